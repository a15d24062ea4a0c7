#!/usr/bin/python3
"""One upstream lost under a client making requests in a loop, through `serve` and
through haproxy in tcp mode with health checks, in front of the same three SOCKS5
upstreams (microsocks, each leaving from its own 127.0.0.x address).

    bench/pool_failover.py [BUILD_DIR] [--runs N] [--seconds S]

Two ways to lose it: killed (SIGKILL: its port refuses from then on) and stalled
(SIGSTOP: the kernel still takes connections, nothing answers). For each run it
prints the requests that failed before and after the check interval had passed since
the loss, and how long each took to call the upstream down (serve: the control API's
/pool says "aside"; haproxy: its stats socket says DOWN).

Both sides are given the same rules: round robin, a check every second, two failed
checks set an upstream aside, one second to connect. haproxy checks each upstream with
a SOCKS5 greeting (tcp-check send/expect), retries three times and redispatches a
connection that could not be made; serve checks with a page fetched through the
upstream, as a verification does. Nothing leaves 127.0.0.0/8.
"""

import argparse
import http.server
import os
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from procfs import cpu_seconds, free_port, rss_kib, wait_port  # noqa: E402

CHECK_INTERVAL = 1.0
FEATURE = "POOLCHECK-OK"






class Origin(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        body = (FEATURE if self.path.startswith("/check") else "client=" + self.client_address[0]).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def request_via_socks(port, origin_port, timeout=5.0):
    """One request through a SOCKS5 proxy on port: the exit address it came out from, or None."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.settimeout(timeout)
            s.sendall(b"\x05\x01\x00")
            if s.recv(2) != b"\x05\x00":
                return None
            s.sendall(b"\x05\x01\x00\x01" + socket.inet_aton("127.0.0.1") + struct.pack(">H", origin_port))
            reply = b""
            while len(reply) < 10:
                chunk = s.recv(10 - len(reply))
                if not chunk:
                    return None
                reply += chunk
            if reply[1] != 0:
                return None
            s.sendall(b"GET /echo HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
            answer = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
            body = answer.split(b"\r\n\r\n", 1)[-1].decode(errors="replace")
            return body[len("client="):] if body.startswith("client=") else None
    except OSError:
        return None


class Upstreams:
    def __init__(self, count=3):
        self.procs = []
        self.ports = []
        for i in range(count):
            port = free_port()
            proc = subprocess.Popen(["/usr/bin/microsocks", "-i", "127.0.0.1", "-p", str(port),
                                     "-b", "127.0.0.%d" % (81 + i)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.procs.append(proc)
            self.ports.append(port)
        for port in self.ports:
            if not wait_port(port):
                raise RuntimeError("microsocks did not start")

    def stop(self):
        for p in self.procs:
            try:
                p.send_signal(signal.SIGCONT)
                p.kill()
                p.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                pass


class Serve:
    name = "serve"

    def __init__(self, build, upstreams, origin_port, scratch):
        data = os.path.join(scratch, "serve-data")
        os.makedirs(data, exist_ok=True)
        with open(os.path.join(data, "Proxies.pro"), "w", newline="") as f:
            for i, port in enumerate(upstreams.ports):
                f.write("127.0.0.1:%d@SOCKS5$0.%d\r\n" % (port, i + 1))
        with open(os.path.join(data, "Setting.dat"), "w", newline="") as f:
            f.write("local@http://127.0.0.1:%d/check.html%%%s$1\r\nm_nConTimeout=1\r\n" % (origin_port, FEATURE))
        self.port, self.api = free_port(), free_port()
        self.proc = subprocess.Popen(
            [os.path.join(build, "quillberry-cli"), "serve", "--data-dir", data,
             "--listen", "127.0.0.1:%d" % self.port, "--api", "127.0.0.1:%d" % self.api,
             "--policy", "round-robin", "--check-interval", str(int(CHECK_INTERVAL)), "--check-timeout", "1",
             "--lazy-after", "0", "--failures", "2", "--set-aside", "30"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(self.port) or not wait_port(self.api):
            raise RuntimeError("serve did not start")
        self.watched = "127.0.0.1:%d@SOCKS5" % upstreams.ports[0]

    def down(self):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/pool" % self.api, timeout=2) as r:
                text = r.read().decode()
        except OSError:
            return False
        at = text.find('"line":"%s"' % self.watched)
        return at >= 0 and text.find('"state":"aside"', at, text.find("}", at)) >= 0

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Haproxy:
    name = "haproxy"

    def __init__(self, build, upstreams, origin_port, scratch):
        self.port = free_port()
        self.socket = os.path.join(scratch, "haproxy.sock")
        config = os.path.join(scratch, "haproxy.cfg")
        servers = "".join(
            "  server u%d 127.0.0.1:%d check inter %dms fall 2 rise 2\n" % (i, port, int(CHECK_INTERVAL * 1000))
            for i, port in enumerate(upstreams.ports))
        with open(config, "w") as f:
            f.write("global\n  stats socket %s mode 600 level admin\n\n"
                    "defaults\n  mode tcp\n  timeout connect 1s\n  timeout client 10s\n  timeout server 10s\n"
                    "  timeout check 1s\n  retries 3\n  option redispatch\n\n"
                    "listen pool\n  bind 127.0.0.1:%d\n  balance roundrobin\n"
                    "  option tcp-check\n  tcp-check send-binary 050100\n  tcp-check expect binary 0500\n%s"
                    % (self.socket, self.port, servers))
        self.proc = subprocess.Popen(["haproxy", "-f", config, "-db"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(self.port):
            raise RuntimeError("haproxy did not start")

    def down(self):
        try:
            with socket.socket(socket.AF_UNIX) as s:
                s.settimeout(2)
                s.connect(self.socket)
                s.sendall(b"show stat\n")
                text = b""
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    text += chunk
        except OSError:
            return False
        for line in text.decode().splitlines():
            fields = line.split(",")
            if len(fields) > 17 and fields[0] == "pool" and fields[1] == "u0":
                return fields[17].startswith("DOWN")
        return False

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)






def run(kind, how, build, origin_port, seconds):
    with tempfile.TemporaryDirectory(prefix="pool-failover-") as scratch:
        upstreams = Upstreams()
        side = kind(build, upstreams, origin_port, scratch)
        try:
            # Warm up: every upstream has carried a request and been checked.
            warm_end = time.monotonic() + 2.5
            while time.monotonic() < warm_end:
                request_via_socks(side.port, origin_port)
            cpu0 = cpu_seconds(side.proc.pid)
            lost_at = time.monotonic()
            upstreams.procs[0].send_signal(signal.SIGKILL if how == "killed" else signal.SIGSTOP)
            downed = None
            stop = threading.Event()

            def watch():
                nonlocal downed
                while not stop.is_set():
                    if side.down():
                        downed = time.monotonic() - lost_at
                        return
                    time.sleep(0.02)

            watcher = threading.Thread(target=watch)
            watcher.start()
            before = after = sent = 0
            slow = []
            end = lost_at + seconds
            while time.monotonic() < end:
                start = time.monotonic()
                ok = request_via_socks(side.port, origin_port) is not None
                took = time.monotonic() - start
                sent += 1
                if took > 0.5:
                    slow.append(took)
                if not ok:
                    if start - lost_at < CHECK_INTERVAL:
                        before += 1
                    else:
                        after += 1
            stop.set()
            watcher.join()
            return {"sent": sent, "failed_before": before, "failed_after": after, "down_s": downed,
                    "slow": len(slow), "slowest_s": max(slow) if slow else 0.0,
                    "cpu_ms": (cpu_seconds(side.proc.pid) - cpu0) * 1000, "rss_kib": rss_kib(side.proc.pid)}
        finally:
            side.stop()
            upstreams.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=6.0)
    args = parser.parse_args()
    if not os.path.exists("/usr/bin/microsocks") or not any(
            os.access(os.path.join(d, "haproxy"), os.X_OK) for d in os.environ["PATH"].split(":") + ["/usr/sbin"]):
        sys.exit("needs microsocks and haproxy (apt-get install microsocks haproxy)")
    os.environ["PATH"] += ":/usr/sbin"
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Origin)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    origin_port = server.server_address[1]
    print("upstream lost at t=0 under a sequential SOCKS5 client loop; 3 upstreams, round robin, "
          "check every %.0f s, 2 failures set aside; %.0f s per run" % (CHECK_INTERVAL, args.seconds))
    print("%-8s %-7s %5s %6s %13s %12s %8s %5s %9s %8s %8s" % (
        "side", "lost", "run", "sent", "failed<check", "failed>check", "down_s", "slow", "slowest_s", "cpu_ms",
        "rss_kib"))
    for how in ("killed", "stalled"):
        for kind in (Serve, Haproxy):
            rows = []
            for i in range(args.runs):
                r = run(kind, how, os.path.abspath(args.build), origin_port, args.seconds)
                rows.append(r)
                print("%-8s %-7s %5d %6d %13d %12d %8s %5d %9.2f %8.0f %8d" % (
                    kind.name, how, i + 1, r["sent"], r["failed_before"], r["failed_after"],
                    "never" if r["down_s"] is None else "%.2f" % r["down_s"], r["slow"], r["slowest_s"],
                    r["cpu_ms"], r["rss_kib"]), flush=True)
            downs = [r["down_s"] for r in rows if r["down_s"] is not None]
            print("%-8s %-7s median down %s s, failed %d of %d in all" % (
                kind.name, how, "%.2f" % statistics.median(downs) if downs else "never",
                sum(r["failed_before"] + r["failed_after"] for r in rows), sum(r["sent"] for r in rows)))
    server.shutdown()


if __name__ == "__main__":
    main()
