#!/usr/bin/python3
"""The real window over a long list, as a user meets it: from starting the program
until its event loop is idle with the window painted, and from asking it to stop
until the process is gone.

    bench/window_process.py [BUILD_DIR] [--rows N] [--runs N] [--base BUILD_DIR]
                            [--wrap 'perf record -g -o FILE']

Each run makes a fresh data directory whose Proxies.pro holds N rows (1,000,000 by
default) and starts BUILD_DIR/quillberry on it with the offscreen platform, a home of
its own and a desktop proxy store in memory (as the tests' WindowProcess does).

  idle   from the start of the process until the window answers a second request on
         its socket ("show" for whichever list it holds). The socket listens before
         the list is read, but a request is only answered by the event loop; the
         first answer comes once the loop runs, and the second once everything the
         start posted before it (the first layout and paint of the window) is done.
  exit   from SIGTERM (what a desktop session's end sends, the window's own stop
         path) until the process has been reaped; the list file is then checked to
         hold all N rows.
  peak   the peak resident size (VmHWM) at idle.
  busy   a cross-check of idle: watched from the second answer on, when the process
         last had the processor before a third of a second without it (/proc, in
         clock ticks); the same as idle when nothing was left to do.

With --wrap, the program runs under that command (a profiler), and the signal goes to
the program itself. With --base, another build's quillberry runs in turn with the same list, so that both
meet the same moments of a shared machine. Prints each run and the medians. It runs in
a network namespace of its own (unshare --net) with only loopback up, so nothing can
leave the machine.
"""

import argparse
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from procfs import cpu_seconds, in_private_network, peak_kib  # noqa: E402


def list_text(rows, seed=2):
    """Rows as bench_window makes them: addresses of the documentation ranges and below,
    common ports, a type, a time or a status, a remark on every third."""
    rng = random.Random(seed)
    types = ["HTTP", "HTTP", "HTTP", "HTTPS", "SOCKS4", "SOCKS5"]
    status = ["未验证", "连接失败", "超时", "不匹配", "", ""]
    ports = [80, 3128, 8080, 8000, 1080, 8888, 9050]
    out = []
    for i in range(rows):
        s = status[rng.randrange(6)] or "%.1f" % (rng.randrange(300) / 10)
        out.append("%d.%d.%d.%d:%d@%s$%s%s\r\n" % (1 + rng.randrange(223), rng.randrange(256), (i >> 8) & 255,
                                                  i & 255, ports[rng.randrange(7)], types[rng.randrange(6)], s,
                                                  "#中国 北京" if i % 3 == 0 else ""))
    return "".join(out).encode()


wrap = []


def window_pid(pid):
    if not wrap:
        return pid
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/children" % (pid, task)) as f:
            for child in f.read().split():
                return int(child)
    return pid


def ask_show(path, deadline):
    """One "show" request for whichever list the window holds; its answer line."""
    while True:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
            break
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise RuntimeError("the window's socket never listened")
            time.sleep(0.002)
    with s:
        s.settimeout(max(1.0, deadline - time.monotonic()))
        s.sendall(b"show\t\n")
        answer = b""
        while not answer.endswith(b"\n"):
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
    return answer


def run_once(program, list_bytes, rows, scratch):
    run = tempfile.mkdtemp(prefix="run-", dir=scratch)
    data = os.path.join(run, "data")
    home = os.path.join(run, "home")
    tmp = os.path.join(run, "tmp")
    for d in (data, home, tmp):
        os.makedirs(d, mode=0o700)
    with open(os.path.join(data, "Setting.dat"), "wb") as f:
        f.write(b"local@http://127.0.0.1:9/feature.html%Feature$1\r\n"
                b"m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\n")
    with open(os.path.join(data, "Proxies.pro"), "wb") as f:
        f.write(list_bytes)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=home, XDG_CONFIG_HOME=home + "/.config",
               XDG_DATA_HOME=home + "/.local/share", XDG_CACHE_HOME=home + "/.cache", TMPDIR=tmp,
               GSETTINGS_BACKEND="memory")
    for name in ("XDG_RUNTIME_DIR", "XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "DESKTOP_SESSION"):
        env.pop(name, None)
    sock = os.path.join(tmp, "quillberry-%d" % os.getuid(), "Quillberry")
    # Files of the disk cache, not of the program, are what a start should not wait for.
    subprocess.run(["cat", os.path.join(data, "Proxies.pro")], stdout=subprocess.DEVNULL, check=True)
    t0 = time.monotonic()
    proc = subprocess.Popen(wrap + [program, "--data-dir", data], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        deadline = t0 + 120
        first = ask_show(sock, deadline)
        loop = time.monotonic() - t0
        second = ask_show(sock, deadline)
        idle = time.monotonic() - t0
        if not first.startswith(b"dir\t") or not second.startswith(b"dir\t"):
            raise RuntimeError("unexpected answer %r %r" % (first, second))
        # Under a wrapper the window is the wrapper's child.
        pid = window_pid(proc.pid)
        # A cross-check of idle that needs no socket: when the process last had the
        # processor before a third of a second without any.
        cpu, quiet = cpu_seconds(pid), time.monotonic()
        while time.monotonic() - quiet < 0.3:
            time.sleep(0.005)
            now = cpu_seconds(pid)
            if now != cpu:
                cpu, quiet = now, time.monotonic()
        quiet -= t0
        peak = peak_kib(pid)
        t1 = time.monotonic()
        os.kill(pid, signal.SIGTERM)
        code = proc.wait(timeout=120)
        gone = time.monotonic() - t1
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    with open(os.path.join(data, "Proxies.pro"), "rb") as f:
        kept = sum(1 for line in f.read().split(b"\r\n") if line)
    # The list holds each proxy once: rows of the same address, port and type are one.
    rows = len({line.split(b"$")[0].upper() for line in list_bytes.split(b"\r\n") if line})
    shutil.rmtree(run, ignore_errors=True)
    if code != 0 or kept != rows:
        print("  exit status %d, %d of %d rows in Proxies.pro after exit" % (code, kept, rows))
    return loop, idle, gone, peak, quiet


def main():
    in_private_network(__file__, "QB_WINDOW_PROCESS_NETNS")
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default=os.path.join(here, "..", "build"))
    ap.add_argument("--rows", type=int, default=1_000_000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--base")
    ap.add_argument("--wrap", help="a command the program runs under, e.g. 'perf record -g -o FILE'")
    args = ap.parse_args()
    global wrap
    wrap = args.wrap.split() if args.wrap else []
    builds = [("this", args.build)] + ([("base", args.base)] if args.base else [])
    for _, b in builds:
        if not os.access(os.path.join(b, "quillberry"), os.X_OK):
            sys.exit("no %s/quillberry: build the target quillberry first" % b)
    scratch = tempfile.mkdtemp(prefix="window-process-")
    try:
        text = list_text(args.rows)
        figures = {name: [] for name, _ in builds}
        for i in range(args.runs):
            for name, b in builds:
                f = run_once(os.path.join(b, "quillberry"), text, args.rows, scratch)
                figures[name].append(f)
                print("%-4s run %d: loop running %.3f s, idle %.3f s (processor last busy at %.3f s), exit %.3f s, "
                      "peak %d MiB (load %.2f)" % (name, i + 1, f[0], f[1], f[4], f[2], f[3] // 1024,
                                                   os.getloadavg()[0]), flush=True)
        for name, _ in builds:
            runs = figures[name]
            print("%-4s median of %d: loop running %.3f s, idle %.3f s, exit %.3f s, peak %d MiB" %
                  (name, len(runs), statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs),
                   statistics.median(r[2] for r in runs), statistics.median(r[3] for r in runs) // 1024))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
