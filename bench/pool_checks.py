#!/usr/bin/python3
"""What the pool costs `serve` at scale.

    bench/pool_checks.py [BUILD_DIR] [--checked N] [--interval S] [--window S] [--pool N]

1. Memory per upstream: `serve` started on lists of 1,000 and of --pool (100,000)
   upstreams, no checks; its resident memory once it listens, and the difference per
   upstream. Also the time until it listens.
2. Health checks of --checked (10,000) upstreams on the interval: the loopback farm of
   EngineFarmBench (fake HTTP proxies on 127.x.y.z answering after 20 ms) behind every
   upstream; a client first sends one request through each (round robin), which puts
   them all in use, then goes quiet. Over --window seconds the checks alone run: serve's
   CPU time, its resident memory, and how many upstreams the control API's /pool shows
   checked within the last interval (each should be, once an interval). At most 32
   checks run at once, so an interval shorter than N x farm delay / 32 cannot be kept.

Nothing leaves 127.0.0.0/8.
"""

import argparse
import concurrent.futures
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from procfs import cpu_seconds, free_port, rss_kib  # noqa: E402

FARM_URL = "http://127.0.0.1/farm.html"
FARM_FEATURE = "FarmFeature-7f3a"




def farm_address(i):
    return "127.%d.%d.%d" % (i // 62500 + 1, (i // 250) % 250 + 1, i % 250 + 1)






def start_serve(cli, data, port, extra=()):
    start = time.monotonic()
    proc = subprocess.Popen([cli, "serve", "--data-dir", data, "--listen", "127.0.0.1:%d" % port, *extra],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline()
    if "listening" not in line:
        proc.kill()
        raise RuntimeError("serve did not start: " + line)
    return proc, time.monotonic() - start


def write_list(data, count, port_of):
    os.makedirs(data, exist_ok=True)
    with open(os.path.join(data, "Proxies.pro"), "w", newline="") as f:
        for i in range(count):
            f.write("%s:%d@HTTP$0.%d\r\n" % (farm_address(i), port_of(i), 1 + i % 9))


def memory_per_upstream(cli, pool):
    figures = {}
    with tempfile.TemporaryDirectory(prefix="pool-memory-") as scratch:
        for count in (1000, pool):
            data = os.path.join(scratch, str(count))
            write_list(data, count, lambda i: 8080)
            proc, ready = start_serve(cli, data, free_port())
            time.sleep(1.0)
            figures[count] = (rss_kib(proc.pid), ready)
            proc.terminate()
            proc.wait(10)
    (small, small_ready), (big, big_ready) = figures[1000], figures[pool]
    print("memory: 1,000 upstreams %d KiB (listening after %.2f s); %d upstreams %d KiB (after %.2f s); "
          "%.0f bytes per upstream" % (small, small_ready, pool, big, big_ready,
                                       (big - small) * 1024.0 / (pool - 1000)))


def request_through(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            s.sendall(("GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % FARM_URL).encode())
            answer = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
            return FARM_FEATURE.encode() in answer
    except OSError:
        return False


def checks(build, cli, count, interval, window):
    farm = subprocess.Popen([os.path.join(build, "bench", "EngineFarmBench"), "farm", "0", str(count), "20", "0", "0"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = farm.stdout.readline()
    if not line.startswith("READY"):
        sys.exit("the farm did not start: " + line)
    farm_port = int(line.split()[1])
    try:
        with tempfile.TemporaryDirectory(prefix="pool-checks-") as data:
            write_list(data, count, lambda i: farm_port)
            with open(os.path.join(data, "Setting.dat"), "w", newline="") as f:
                f.write("farm@%s%%%s$1\r\nm_nConTimeout=5\r\n" % (FARM_URL, FARM_FEATURE))
            port, api = free_port(), free_port()
            proc, ready = start_serve(cli, data, port, (
                "--api", "127.0.0.1:%d" % api, "--policy", "round-robin", "--check-interval", str(interval),
                "--lazy-after", "0"))
            rss0 = rss_kib(proc.pid)
            start = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(64) as pool:
                ok = sum(pool.map(lambda _: request_through(port), range(count)))
            print("checks: %d requests through the endpoint, one per upstream, %d answered in %.1f s" % (
                count, ok, time.monotonic() - start))
            cpu0, t0 = cpu_seconds(proc.pid), time.monotonic()
            peak = rss_kib(proc.pid)
            while time.monotonic() - t0 < window:
                time.sleep(0.5)
                peak = max(peak, rss_kib(proc.pid))
            cpu = cpu_seconds(proc.pid) - cpu0
            elapsed = time.monotonic() - t0
            with urllib.request.urlopen("http://127.0.0.1:%d/pool" % api, timeout=30) as r:
                pool_view = json.load(r)["upstreams"]
            ago = [u.get("last_check_ago_ms") for u in pool_view]
            recent = sum(1 for a in ago if a is not None and 0 <= a <= (interval + 1) * 1000)
            ever = sum(1 for a in ago if a is not None and a >= 0)
            aside = sum(1 for u in pool_view if u["state"] == "aside")
            expected = count * elapsed / interval
            print("checks: %d upstreams, interval %d s, %.0f s measured: CPU %.2f s (%.1f %% of one core), "
                  "%.3f ms per expected check; %d checked within the last interval, %d ever, %d aside; "
                  "resident %d KiB before the clients, %d KiB at most while checking" % (
                      count, interval, elapsed, cpu, 100 * cpu / elapsed, 1000 * cpu / expected, recent, ever,
                      aside, rss0, peak))
            proc.terminate()
            proc.wait(10)
    finally:
        farm.stdin.close()
        farm.wait(10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--checked", type=int, default=10000)
    parser.add_argument("--interval", type=int, default=30)
    parser.add_argument("--window", type=float, default=60)
    parser.add_argument("--pool", type=int, default=100000)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    cli = os.path.join(build, "quillberry-cli")
    memory_per_upstream(cli, args.pool)
    checks(build, cli, args.checked, args.interval, args.window)


if __name__ == "__main__":
    main()
