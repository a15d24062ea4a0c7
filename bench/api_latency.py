#!/usr/bin/env python3
"""The control API's latency while the endpoint carries many open connections.

Starts, all on loopback: an origin that holds every connection open, microsocks as the
one upstream, and `quillberry-cli serve --api` on a list holding that upstream (plus
POOL-1 dead ones, so /pool and /metrics have a pool of that size to write). Then, with 0
and with CLIENTS tunnels open through the endpoint (each has sent a request and waits),
asks the API for /count, /get, /pool and /metrics REQUESTS times each, one after the
other on fresh connections, and prints the median, 90th and 99th percentile in ms.

    python3 bench/api_latency.py [BUILD_DIR] [--clients 1000] [--requests 200] [--pool 1000]
"""
import argparse
import asyncio
import os
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


async def hold_origin(reader, writer):
    # Answers nothing and keeps the connection until the client goes.
    try:
        await reader.read()
    except (asyncio.CancelledError, ConnectionError):
        pass
    finally:
        writer.close()


async def open_tunnel(endpoint_port, origin_port):
    reader, writer = await asyncio.open_connection("127.0.0.1", endpoint_port)
    writer.write(f"CONNECT 127.0.0.1:{origin_port} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
    await writer.drain()
    head = await reader.readuntil(b"\r\n\r\n")
    if b" 200" not in head.split(b"\r\n", 1)[0]:
        raise RuntimeError(head.decode(errors="replace"))
    writer.write(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
    await writer.drain()
    return writer


async def ask(api_port, path):
    start = time.perf_counter()
    reader, writer = await asyncio.open_connection("127.0.0.1", api_port)
    writer.write(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
    await writer.drain()
    data = await reader.read()
    writer.close()
    if not data.startswith(b"HTTP/1.1 200"):
        raise RuntimeError(f"{path}: {data[:80]!r}")
    return (time.perf_counter() - start) * 1000, len(data)


async def measure(api_port, requests, label):
    for path in ("/count", "/get", "/pool", "/metrics"):
        times, size = [], 0
        for _ in range(requests):
            ms, size = await ask(api_port, path)
            times.append(ms)
        times.sort()
        q = lambda p: times[min(len(times) - 1, int(p * len(times)))]
        print(f"{label:>22}  {path:<9} median {statistics.median(times):7.2f} ms  p90 {q(0.9):7.2f}  "
              f"p99 {q(0.99):7.2f}  ({size} bytes)")


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--clients", type=int, default=1000)
    ap.add_argument("--requests", type=int, default=200)
    ap.add_argument("--pool", type=int, default=1000)
    args = ap.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    origin = await asyncio.start_server(hold_origin, "127.0.0.1", 0, backlog=4096)
    origin_port = origin.sockets[0].getsockname()[1]
    socks_port, endpoint_port, api_port = free_port(), free_port(), free_port()
    tmp = tempfile.mkdtemp(prefix="qb-api-bench-")
    procs = []
    try:
        procs.append(subprocess.Popen([shutil.which("microsocks") or "/usr/bin/microsocks", "-i", "127.0.0.1",
                                       "-p", str(socks_port)],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        with open(os.path.join(tmp, "Proxies.pro"), "w", newline="") as f:
            f.write(f"127.0.0.1:{socks_port}@SOCKS5$0.1\r\n")
            # Dead upstreams on 127.1.x.y, never chosen before the live one (slower).
            for i in range(args.pool - 1):
                f.write(f"127.1.{i // 250}.{i % 250 + 1}:9@SOCKS5$5.{i % 10}\r\n")
        procs.append(subprocess.Popen([os.path.join(args.build, "quillberry-cli"), "serve", "--data-dir", tmp,
                                       "--listen", f"127.0.0.1:{endpoint_port}", "--api",
                                       f"127.0.0.1:{api_port}"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        if not (wait_port(socks_port) and wait_port(endpoint_port) and wait_port(api_port)):
            sys.exit("the upstream or serve did not start")
        print(f"machine: {os.cpu_count()} cores; load average {os.getloadavg()[0]:.2f}; pool {args.pool}")
        await measure(api_port, args.requests, "no client open")
        tunnels = []
        for chunk in range(0, args.clients, 100):
            tunnels += await asyncio.gather(*(open_tunnel(endpoint_port, origin_port)
                                              for _ in range(min(100, args.clients - chunk))))
        await measure(api_port, args.requests, f"{len(tunnels)} tunnels open")
        for w in tunnels:
            w.close()
        print(f"load average after: {os.getloadavg()[0]:.2f}")
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait(5)
        origin.close()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    asyncio.run(main())
