#!/usr/bin/python3
"""How long `quillberry-cli serve` takes over a large list before it accepts a client,
and the memory it takes to get there and then to hold the pool.

    bench/serve_ready.py [BUILD_DIR] [--list FILE] [--rows N] [--runs N]
                         [--settle S] [--base CLI]

The list is FILE (list-file lines, for example what bench/make_merge_input.py writes,
whose rows with a time are the pool), or a list of N rows made by that script
(10,000,000 by default). Each run copies it into a fresh data directory as its
Proxies.pro, starts serve there on a free loopback port with health checks off, and
measures from the start to the first connection the port accepts and to the answer
to the endpoint's status request (GET /quillberry/status, answered by the loop once
the pool is in place: "ready"), the peak resident size until then (VmHWM) and the resident size after S more seconds (--settle, default 5).
With --after, each run then also asks the control API for its counts (/count), its
metrics (/metrics), a page of /pool and a check of a line not in the pool, and has the list rewritten (a new file in its place, which serve
reads again): the time of each answer, the longest a status request waited while the
list was read again and the pool replaced, and the peak resident size by the end.
With --base CLI, another build's quillberry-cli runs in turn with the same list, so
that both meet the same moments of a shared machine. Prints each run and the medians.
It runs in a network namespace of its own (unshare --net) with only loopback up, so
nothing leaves the machine, not even a lookup of a host name in the list.
"""

import argparse
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "lib"))
from procfs import free_port, in_private_network, peak_kib, rss_kib  # noqa: E402


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.2):
            return True
    except OSError:
        return False


def status(port):
    """The endpoint's status answer (its loop has the pool in place once it answers)."""
    with socket.create_connection(("127.0.0.1", port), timeout=120) as s:
        s.sendall(b"GET /quillberry/status HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n" % port)
        answer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return answer.decode(errors="replace")
            answer += chunk


def api_get(port, path, method="GET"):
    """The seconds an answer from the control API took, its length and its status."""
    began = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=300) as s:
        s.sendall(b"%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                  % (method.encode(), path.encode()))
        size = 0
        head = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return time.monotonic() - began, size, head[9:12].decode(errors="replace")
            if len(head) < 12:
                head += chunk[:12]
            size += len(chunk)


def after_ready(proc, port, api, target, list_path):
    """The API's answers and a rewritten list, once the pool is in place."""
    count = api_get(api, "/count")
    metrics = api_get(api, "/metrics")
    # A page deep in the pool, and a check of a line the pool lacks (checks are off, so
    # the answer says whether the line is there: 404).
    page = api_get(api, "/pool?offset=4000000&limit=100")
    unknown = api_get(api, "/check?line=127.0.0.1:1@HTTP", "POST")
    # The list written anew (another file put in its place, as a save does): serve
    # notices within 2 s, reads it and hands the loop a fresh pool.
    fresh = target + ".new"
    shutil.copyfile(list_path, fresh)
    os.replace(fresh, target)
    longest = 0.0
    until = time.monotonic() + 12
    while time.monotonic() < until:
        began = time.monotonic()
        status(port)
        longest = max(longest, time.monotonic() - began)
        time.sleep(0.05)
    return count, metrics, longest, peak_kib(proc.pid), page, unknown


def one_run(cli, list_path, settle, scratch, after=False):
    data = tempfile.mkdtemp(prefix="serve-ready-", dir=scratch)
    try:
        target = os.path.join(data, "Proxies.pro")
        try:
            os.link(list_path, target)
        except OSError:
            shutil.copyfile(list_path, target)
        port = free_port()
        api = free_port()
        env = dict(os.environ, HOME=data, XDG_CONFIG_HOME=os.path.join(data, "config"), QT_QPA_PLATFORM="offscreen")
        start = time.monotonic()
        proc = subprocess.Popen([cli, "--data-dir", data, "serve", "--listen", "127.0.0.1:%d" % port,
                                 "--check-interval", "0"] + (["--api", "127.0.0.1:%d" % api] if after else []),
                                stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, env=env)
        try:
            while not accepts(port):
                if proc.poll() is not None:
                    raise RuntimeError("serve ended (%d): %s" % (proc.returncode, proc.stderr.read().decode()))
                time.sleep(0.01)
            listening = time.monotonic() - start
            answer = status(port)
            ready = time.monotonic() - start
            pool = next((line.split("=", 1)[1] for line in answer.splitlines() if line.startswith("pool=")), "?")
            peak = peak_kib(proc.pid)
            time.sleep(settle)
            steady = rss_kib(proc.pid)
            later_peak = peak_kib(proc.pid)
            more = after_ready(proc, port, api, target, list_path) if after else None
        finally:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        return ready, peak, steady, later_peak, listening, pool, more
    finally:
        shutil.rmtree(data, ignore_errors=True)


def main():
    in_private_network(__file__, "QB_SERVE_READY_NETNS")
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default=os.path.join(here, "..", "build"))
    ap.add_argument("--list")
    ap.add_argument("--rows", type=int, default=10_000_000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--settle", type=float, default=5.0)
    ap.add_argument("--base")
    ap.add_argument("--after", action="store_true")
    args = ap.parse_args()

    cli = os.path.join(args.build, "quillberry-cli")
    if not os.access(cli, os.X_OK):
        sys.exit("no %s: build the target quillberry-cli first" % cli)
    scratch = tempfile.mkdtemp(prefix="serve-ready-")
    try:
        list_path = args.list
        if not list_path:
            list_path = os.path.join(scratch, "list.txt")
            subprocess.run([sys.executable, os.path.join(here, "make_merge_input.py"), list_path, str(args.rows)],
                           check=True)
        with open(list_path, "rb") as f:
            rows = sum(1 for _ in f)
        print("list: %s, %d lines, %d bytes" % (list_path, rows, os.path.getsize(list_path)))
        print("machine: %d cores; before: %s" % (os.cpu_count(), subprocess.getoutput("uptime").strip()))
        builds = [("this", cli)] + ([("base", args.base)] if args.base else [])
        results = {name: [] for name, _ in builds}
        for run in range(args.runs):
            for name, path in builds:
                r = one_run(path, list_path, args.settle, scratch, args.after)
                results[name].append(r)
                print("run %d %-4s listening %6.2f s  status answered %6.2f s (pool %s)  peak %7.0f MiB  "
                      "steady %7.0f MiB (peak by then %7.0f MiB)"
                      % (run + 1, name, r[4], r[0], r[5], r[1] / 1024, r[2] / 1024, r[3] / 1024), flush=True)
                if r[6]:
                    (count, count_bytes, _), (metrics, metrics_bytes, _), longest, last_peak, page, unknown = r[6]
                    print("      %-4s /count %.3f s (%d bytes)  /metrics %.3f s (%d bytes)  list rewritten: "
                          "longest status wait %.2f s  peak by the end %7.0f MiB"
                          % (name, count, count_bytes, metrics, metrics_bytes, longest, last_peak / 1024), flush=True)
                    print("      %-4s /pool page of 100 at 4,000,000: %.3f s (%d bytes, %s)  "
                          "POST /check of a line not in the pool: %.3f s (%s)"
                          % (name, page[0], page[1], page[2], unknown[0], unknown[2]), flush=True)
        print("after: %s" % subprocess.getoutput("uptime").strip())
        for name, _ in builds:
            rs = results[name]
            print("%-4s median: ready %6.2f s  peak %7.0f MiB  steady %7.0f MiB"
                  % (name, statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs) / 1024,
                     statistics.median(r[2] for r in rs) / 1024))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
