#!/usr/bin/python3
"""The engine benchmark's peer: the same checks with aiohttp.

Usage: engine_farm_aiohttp.py LIST URL FEATURE CONCURRENCY CONNECT_S REPLY_S

LIST holds one "address:port" per line; each is used as an HTTP proxy for URL, and
the check succeeds when the page holds FEATURE. Prints "ok=N failed=M wall_s=S".
"""
import asyncio
import sys
import time

import aiohttp


async def main():
    path, url, feature, concurrency, connect_s, reply_s = sys.argv[1:7]
    concurrency = int(concurrency)
    with open(path) as f:
        proxies = [line.strip() for line in f if line.strip()]
    timeout = aiohttp.ClientTimeout(total=80, sock_connect=float(connect_s), sock_read=float(reply_s))
    connector = aiohttp.TCPConnector(limit=concurrency, force_close=True)
    counts = {"ok": 0, "failed": 0}
    queue = iter(proxies)
    start = time.monotonic()

    async with aiohttp.ClientSession(connector=connector, timeout=timeout) as session:

        async def worker():
            for proxy in queue:
                try:
                    async with session.get(url, proxy="http://" + proxy) as r:
                        body = await r.text(errors="replace")
                        counts["ok" if feature in body else "failed"] += 1
                except Exception:
                    counts["failed"] += 1

        await asyncio.gather(*(worker() for _ in range(concurrency)))
    print("ok=%d failed=%d wall_s=%.3f" % (counts["ok"], counts["failed"], time.monotonic() - start))


asyncio.run(main())
