#!/usr/bin/python3
"""Loopback peers for the network tests.

Starts, on free ports of 127.0.0.1 and inside a private temporary directory:

  HTTP_PROXY    tinyproxy, a plain HTTP proxy (outgoing address 127.0.0.4)
  SOCKS         danted offering SOCKS4 and SOCKS5 (outgoing address 127.0.0.2)
  SOCKS5_ONLY   danted offering SOCKS5 only, so SOCKS4 requests fail (127.0.0.3)
  SQUID         squid, an HTTP proxy that also serves ftp:// URLs (127.0.0.5)
  HTTP_PROXY_AUTH  tinyproxy that asks for PROXY_USER and PROXY_PASSWORD (127.0.0.6)
  SOCKS5_AUTH   microsocks that asks for PROXY_USER and PROXY_PASSWORD (127.0.0.7)
  FTP           pyftpdlib: anonymous, and user "user" with password "pass"
  ORIGIN        an HTTP server with the test pages (see OriginHandler)
  DEAD          a port nobody listens on (kept bound so nobody takes it)
  SILENT        a port that accepts connections and never sends a byte

Each proxy leaves from its own loopback address, so the origin's /echo page tells
which peer carried a request. Every peer only ever connects to 127.0.0.0/8.

Prints KEY=VALUE lines and then READY on standard output once every peer accepts
connections: <NAME>_PORT for each running peer, MISSING=<NAME> <program> for a peer
whose program is not installed, FAILED=<NAME> <reason> for one that would not start,
<NAME>_OUT for each proxy's outgoing address, and FEATURE, FTP_USER, FTP_PASSWORD,
PROXY_USER, PROXY_PASSWORD,
DIR and STARTUP_MS. Then stays in the foreground until standard input
closes, a signal arrives or --max-seconds pass, and stops every child. A separate
reaper process stops the daemons too if this script itself is killed outright.

QB_PEERS_PRETEND_MISSING=tinyproxy,danted,squid treats those programs as not
installed, to see how the tests behave without them.

Runs with Debian's /usr/bin/python3 (pyftpdlib lives there). As root the daemons
switch to nobody where they insist on dropping privileges.
"""

import argparse
import http.server
import logging
import os
import select
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

FEATURE = "QuillberryFeature"
FTP_USER = "user"
FTP_PASSWORD = "pass"
PROXY_USER = "alice"
PROXY_PASSWORD = "s3cret.pw"  # tinyproxy takes letters, digits and ".-_" only
LOOPBACK = "127.0.0.1"
# squid names its shared memory segments after its service name; one of our own
# keeps them apart from any other squid on the machine and lets us remove them.
SQUID_SERVICE = "qbpeers%d" % os.getpid()
SQUID_SHM_PREFIX = SQUID_SERVICE + "-"
OUT_ADDR = {
    "SOCKS": "127.0.0.2",
    "SOCKS5_ONLY": "127.0.0.3",
    "HTTP_PROXY": "127.0.0.4",
    "SQUID": "127.0.0.5",
    "HTTP_PROXY_AUTH": "127.0.0.6",
    "SOCKS5_AUTH": "127.0.0.7",
}

stopping = threading.Event()


# --------------------------------------------------------------------------- origin

PAGES = {
    # The feature string on a line of its own before the closing body tag.
    "/feature.html": "<html><head><title>Quillberry test page</title></head>\r\n"
    "<body>\r\n<p>" + FEATURE + "</p>\r\n</body>\r\n</html>\r\n",
    # The feature string only after the line that holds "</body>".
    "/after.html": "<html><head><title>after</title></head>\r\n<body>\r\n<p>nothing here</p>\r\n"
    "</body>\r\n<!-- " + FEATURE + " -->\r\n</html>\r\n",
    # The feature string cut in two by a line break.
    "/split.html": "<html><body>\r\n<p>" + FEATURE[:10] + "\r\n"
    + FEATURE[10:] + "</p>\r\n</body></html>\r\n",
    # A body of no bytes at all.
    "/empty.html": "",
    # The feature string on the same line as "</body>", and no final line break.
    "/sameline.html": "<html><body><p>" + FEATURE + "</p></body></html>",
}
TRICKLE_BODY = "<html><body>\n<p>" + FEATURE + "</p>\n</body></html>\n"


class OriginHandler(http.server.BaseHTTPRequestHandler):
    """The test pages.

    /feature.html /after.html /split.html /empty.html /sameline.html  fixed pages
    /trickle?interval=S&bytes=N  a page of N bytes (default: the feature page),
                                 sent one byte every S seconds (default 1)
    /hang                        reads the request and never answers
    /echo                        the client address, request line and headers
    anything else                404 with a page without the feature string
    """

    server_version = "QuillberryOrigin/1"
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        logging.getLogger("origin").info("%s %s", self.client_address[0], fmt % args)

    def _send(self, code, body, ctype="text/html; charset=utf-8"):
        data = body.encode("utf-8")
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        query = urllib.parse.parse_qs(url.query)
        if path in PAGES:
            self._send(200, PAGES[path])
        elif path == "/echo":
            body = "client=%s\r\n%s\r\n%s" % (self.client_address[0], self.requestline, self.headers)
            self._send(200, body, "text/plain; charset=utf-8")
        elif path == "/trickle":
            self._trickle(query)
        elif path == "/hang":
            self._hang()
        else:
            self._send(404, "<html><body>not found</body></html>\r\n")

    def _trickle(self, query):
        try:
            interval = min(max(float(query.get("interval", ["1"])[0]), 0.01), 30.0)
            count = int(query.get("bytes", ["0"])[0])
        except ValueError:
            self._send(400, "bad query\r\n")
            return
        body = TRICKLE_BODY.encode()
        if count > 0:
            body = (body * (count // len(body) + 1))[: min(count, 100000)]
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.flush()
        for i in range(len(body)):
            if stopping.wait(interval):
                return
            try:
                self.wfile.write(body[i : i + 1])
                self.wfile.flush()
            except OSError:
                return

    def _hang(self):
        # Waits until the client gives up (its end closes) or the peers stop.
        self.close_connection = True
        sock = self.connection
        while not stopping.is_set():
            readable, _, _ = select.select([sock], [], [], 0.5)
            if readable:
                try:
                    if not sock.recv(4096):
                        return
                except OSError:
                    return


class ThreadingServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def start_origin():
    server = ThreadingServer((LOOPBACK, 0), OriginHandler)
    threading.Thread(target=server.serve_forever, name="origin", daemon=True).start()
    return server.server_address[1]


def start_silent():
    """A listener that takes every connection and never says anything."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind((LOOPBACK, 0))
    listener.listen(64)
    held = []

    def run():
        while not stopping.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            held.append(conn)
            # Drop connections whose client has gone, so a long run holds no more
            # than it must.
            held[:] = [c for c in held if not _closed(c)]

    threading.Thread(target=run, name="silent", daemon=True).start()
    return listener


def _closed(conn):
    try:
        readable, _, _ = select.select([conn], [], [], 0)
        if readable and not conn.recv(4096, socket.MSG_PEEK):
            conn.close()
            return True
    except OSError:
        conn.close()
        return True
    return False


def reserve_dead_port():
    """A bound socket that never listens: connections to it are refused, and while it
    stays bound no other program can take its port."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((LOOPBACK, 0))
    return s


# ------------------------------------------------------------------------------ FTP


def start_ftp(root):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    home = os.path.join(root, "ftp")
    os.makedirs(home, exist_ok=True)
    with open(os.path.join(home, "readme.txt"), "w") as f:
        f.write("Quillberry test FTP server\r\n" + FEATURE + "\r\n")
    authorizer = DummyAuthorizer()
    authorizer.add_user(FTP_USER, FTP_PASSWORD, home, perm="elr")
    authorizer.add_anonymous(home)

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "Quillberry test FTP server ready."
    # pyftpdlib waits 3 s before refusing a log-on; the tests need the answer now.
    Handler.auth_failed_timeout = 0
    # Data connections come from whichever loopback address the proxy leaves from.
    Handler.permit_foreign_addresses = True
    logging.getLogger("pyftpdlib").setLevel(logging.INFO)
    server = FTPServer((LOOPBACK, 0), Handler)
    port = server.socket.getsockname()[1]
    serve = threading.Thread(target=server.serve_forever, kwargs={"handle_exit": False}, daemon=True)
    serve.start()
    return port


# -------------------------------------------------------------------------- daemons


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((LOOPBACK, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def find_program(name, extra_dirs=("/usr/sbin", "/sbin", "/usr/local/sbin")):
    # Lets a developer check how the tests behave on a machine without a program.
    if name in os.environ.get("QB_PEERS_PRETEND_MISSING", "").split(","):
        return None
    path = shutil.which(name)
    if path:
        return path
    for d in extra_dirs:
        candidate = os.path.join(d, name)
        if os.access(candidate, os.X_OK):
            return candidate
    return None


def is_root():
    return os.geteuid() == 0


def tinyproxy_config(port, run, name="HTTP_PROXY"):
    lines = []
    if is_root():
        lines += ["User nobody", "Group nogroup"]
    lines += [
        "Port %d" % port,
        "Listen %s" % LOOPBACK,
        "Bind %s" % OUT_ADDR[name],
        "Timeout 120",
        'LogFile "%s/%s.log"' % (run, name.lower()),
        "LogLevel Info",
        'PidFile "%s/%s.pid"' % (run, name.lower()),
        "MaxClients 200",
        "Allow 127.0.0.0/8",
        'ViaProxyName "tinyproxy"',
        # Only loopback destinations.
        'Filter "%s/tinyproxy.filter"' % run,
        "FilterType ere",
        "FilterDefaultDeny Yes",
    ]
    if name == "HTTP_PROXY_AUTH":
        lines.append("BasicAuth %s %s" % (PROXY_USER, PROXY_PASSWORD))
    return "\n".join(lines) + "\n"


def write_tinyproxy_filter(run):
    # Both proxies read this one file. It is written once, before either starts,
    # and put in place whole: a proxy that read it while the second proxy's start
    # truncated it found no rule, and with default deny filtered every request.
    path = os.path.join(run, "tinyproxy.filter")
    with open(path + ".new", "w") as f:
        f.write("^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$\n^localhost$\n")
    os.replace(path + ".new", path)


def dante_config(name, port, run, protocols):
    lines = [
        "logoutput: %s/%s.log" % (run, name.lower()),
        "internal: %s port = %d" % (LOOPBACK, port),
        "external: %s" % OUT_ADDR[name],
        "clientmethod: none",
        "socksmethod: none",
    ]
    if is_root():
        lines += ["user.privileged: root", "user.unprivileged: nobody"]
    lines += [
        "client pass {",
        "  from: 127.0.0.0/8 to: 127.0.0.0/8",
        "}",
        "socks pass {",
        "  from: 127.0.0.0/8 to: 127.0.0.0/8",
        "  command: connect",
        "  protocol: tcp",
        "  proxyprotocol: %s" % protocols,
        "  log: connect error",
        "}",
    ]
    return "\n".join(lines) + "\n"


def squid_config(port, run):
    lines = [
        "http_port %s:%d" % (LOOPBACK, port),
        "visible_hostname quillberry-peers",
        "pid_filename %s/squid.pid" % run,
    ]
    if is_root():
        lines += ["cache_effective_user nobody", "cache_effective_group nogroup"]
    lines += [
        # No disk cache and nothing kept: every request goes to the origin.
        "cache deny all",
        "cache_mem 8 MB",
        "access_log stdio:%s/squid-access.log" % run,
        "cache_log %s/squid-cache.log" % run,
        "cache_store_log none",
        "netdb_filename none",
        "coredump_dir %s" % run,
        # A large descriptor limit makes squid allocate large tables at start-up.
        "max_filedescriptors 1024",
        # The tests use addresses only; no name query may leave the machine.
        "dns_nameservers 127.0.0.1",
        "pinger_enable off",
        "icp_port 0",
        "htcp_port 0",
        "shutdown_lifetime 0 seconds",
        "tcp_outgoing_address %s" % OUT_ADDR["SQUID"],
        "connect_timeout 10 seconds",
        "read_timeout 60 seconds",
        "acl qb_src src 127.0.0.0/8",
        "acl qb_dst dst 127.0.0.0/8",
        "http_access allow qb_src qb_dst",
        "http_access deny all",
    ]
    return "\n".join(lines) + "\n"


def _child_setup():
    # Dies with this script even when it is killed outright (until the daemon
    # changes its user, which clears this; the reaper covers that case).
    try:
        import ctypes

        ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except Exception:
        pass


class Daemon:
    def __init__(self, name, program, make_args, log_name):
        self.name = name
        self.program = program
        self.make_args = make_args
        self.log_name = log_name
        self.proc = None
        self.port = 0
        self.error = ""


def start_daemon(daemon, run, reaper):
    daemon.port = free_port()
    args = daemon.make_args(daemon.port)
    out = open(os.path.join(run, daemon.log_name + ".out"), "ab")
    daemon.proc = subprocess.Popen(
        args,
        stdin=subprocess.DEVNULL,
        stdout=out,
        stderr=subprocess.STDOUT,
        cwd=run,
        start_new_session=True,
        preexec_fn=_child_setup,
    )
    out.close()
    reaper.watch(daemon.proc.pid)


def port_open(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(0.5)
    try:
        s.connect((LOOPBACK, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def daemon_log(d, run):
    """The last lines a failed daemon wrote, wherever it writes them."""
    names = [d.log_name + ".out", d.log_name + ".log"]
    if d.name == "SQUID":
        names.append("squid-cache.log")
    return " | ".join(t for t in (tail(os.path.join(run, n)) for n in names) if t)


def failed_line(d, log):
    return "FAILED=%s %s exited with %s: %s" % (d.name, d.program, d.proc.returncode, log)


def tail(path, lines=5):
    try:
        with open(path, "rb") as f:
            text = f.read()[-4000:].decode("utf-8", "replace")
        return " | ".join(l.strip() for l in text.strip().splitlines()[-lines:])
    except OSError:
        return ""


# --------------------------------------------------------------------------- reaper

REAPER_CODE = r"""
import os, select, shutil, signal, sys, time
groups = set()
root = sys.argv[1]
deadline = time.time() + float(sys.argv[2])
shm_prefix = sys.argv[3]
buf = b""
while True:
    left = deadline - time.time()
    if left <= 0:
        break
    r, _, _ = select.select([0], [], [], left)
    if not r:
        break
    data = os.read(0, 4096)
    if not data:
        break
    buf += data
    while b"\n" in buf:
        line, buf = buf.split(b"\n", 1)
        if line.startswith(b"+"):
            groups.add(int(line[1:]))
        elif line.startswith(b"-"):
            groups.discard(int(line[1:]))
for sig in (signal.SIGTERM, signal.SIGKILL):
    for g in list(groups):
        try:
            os.killpg(g, sig)
        except OSError:
            groups.discard(g)
    if groups:
        time.sleep(1)
shutil.rmtree(root, ignore_errors=True)
for name in os.listdir("/dev/shm") if os.path.isdir("/dev/shm") else []:
    if name.startswith(shm_prefix):
        try:
            os.unlink(os.path.join("/dev/shm", name))
        except OSError:
            pass
"""


class Reaper:
    """A process of its own that stops the daemons' process groups and removes the
    directory when this script goes away by any means, even SIGKILL."""

    def __init__(self, root, max_seconds):
        self.proc = subprocess.Popen(
            [sys.executable, "-I", "-c", REAPER_CODE, root, str(max_seconds + 15), SQUID_SHM_PREFIX],
            stdin=subprocess.PIPE,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )

    def watch(self, pgid):
        self._send("+%d\n" % pgid)

    def forget(self, pgid):
        self._send("-%d\n" % pgid)

    def _send(self, text):
        try:
            self.proc.stdin.write(text.encode())
            self.proc.stdin.flush()
        except OSError:
            pass

    def release(self):
        try:
            self.proc.stdin.close()
        except OSError:
            pass


# ----------------------------------------------------------------------------- main


def stop_daemons(daemons, reaper):
    live = [d for d in daemons if d.proc and d.proc.poll() is None]
    for d in live:
        try:
            os.killpg(d.proc.pid, signal.SIGTERM)
        except OSError:
            pass
    # squid takes over a second to wind down even with shutdown_lifetime 0, and
    # nothing of any daemon is worth waiting for: their files go with the directory.
    deadline = time.time() + 0.3
    for d in live:
        try:
            d.proc.wait(max(0.0, deadline - time.time()))
        except subprocess.TimeoutExpired:
            pass
    for d in daemons:
        if d.proc is None:
            continue
        try:
            # The group may still hold children (danted's) after the leader ended.
            os.killpg(d.proc.pid, signal.SIGKILL)
        except OSError:
            pass
        try:
            d.proc.wait(2)
        except subprocess.TimeoutExpired:
            pass
        reaper.forget(d.proc.pid)
    remove_squid_shm()


def remove_squid_shm():
    try:
        names = os.listdir("/dev/shm")
    except OSError:
        return
    for name in names:
        if name.startswith(SQUID_SHM_PREFIX):
            try:
                os.unlink(os.path.join("/dev/shm", name))
            except OSError:
                pass


def main():
    parser = argparse.ArgumentParser(description="Starts the loopback test peers.")
    parser.add_argument("--max-seconds", type=float, default=900, help="stop after this long (default 900)")
    parser.add_argument("--ignore-stdin", action="store_true", help="do not stop when standard input closes")
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory (logs)")
    parser.add_argument("--start-timeout", type=float, default=30, help="seconds to wait for each daemon")
    opts = parser.parse_args()

    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="quillberry-peers-")
    run = os.path.join(root, "run")
    os.mkdir(run)
    # The daemons write their logs after switching to nobody.
    os.chmod(root, 0o755)
    os.chmod(run, 0o1777)
    logging.basicConfig(
        filename=os.path.join(run, "python.log"),
        level=logging.INFO,
        format="%(asctime)s %(name)s %(message)s",
    )
    reaper = Reaper("/nonexistent" if opts.keep else root, opts.max_seconds)
    daemons = []
    lines = []
    done = threading.Event()

    def finish(*_):
        done.set()

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, finish)

    try:
        tinyproxy = find_program("tinyproxy")
        danted = find_program("danted")
        squid = find_program("squid")

        def write(name, text):
            path = os.path.join(run, name)
            with open(path, "w") as f:
                f.write(text)
            return path

        if tinyproxy:
            write_tinyproxy_filter(run)
            daemons.append(
                Daemon(
                    "HTTP_PROXY",
                    tinyproxy,
                    lambda p: [tinyproxy, "-d", "-c", write("tinyproxy.conf", tinyproxy_config(p, run))],
                    "http_proxy",
                )
            )
            daemons.append(
                Daemon(
                    "HTTP_PROXY_AUTH",
                    tinyproxy,
                    lambda p: [
                        tinyproxy,
                        "-d",
                        "-c",
                        write("tinyproxy-auth.conf", tinyproxy_config(p, run, "HTTP_PROXY_AUTH")),
                    ],
                    "http_proxy_auth",
                )
            )
        else:
            lines += ["MISSING=HTTP_PROXY tinyproxy", "MISSING=HTTP_PROXY_AUTH tinyproxy"]
        # microsocks has no rule for destinations; the tests only ever ask it for
        # loopback ones.
        microsocks = find_program("microsocks")
        if microsocks:
            daemons.append(
                Daemon(
                    "SOCKS5_AUTH",
                    microsocks,
                    lambda p: [
                        microsocks,
                        "-i",
                        LOOPBACK,
                        "-p",
                        str(p),
                        "-b",
                        OUT_ADDR["SOCKS5_AUTH"],
                        "-u",
                        PROXY_USER,
                        "-P",
                        PROXY_PASSWORD,
                    ],
                    "socks5_auth",
                )
            )
        else:
            lines.append("MISSING=SOCKS5_AUTH microsocks")
        if danted:
            for name, protocols in (("SOCKS", "socks_v4 socks_v5"), ("SOCKS5_ONLY", "socks_v5")):
                conf = name.lower() + ".conf"
                daemons.append(
                    Daemon(
                        name,
                        danted,
                        lambda p, name=name, protocols=protocols, conf=conf: [
                            danted,
                            "-f",
                            write(conf, dante_config(name, p, run, protocols)),
                            "-p",
                            os.path.join(run, name.lower() + ".pid"),
                        ],
                        name.lower(),
                    )
                )
        else:
            lines += ["MISSING=SOCKS danted", "MISSING=SOCKS5_ONLY danted"]
        if squid:
            daemons.append(
                Daemon(
                    "SQUID",
                    squid,
                    lambda p: [
                        squid,
                        "-N",
                        "-n",
                        SQUID_SERVICE,
                        "-f",
                        write("squid.conf", squid_config(p, run)),
                    ],
                    "squid",
                )
            )
        else:
            lines.append("MISSING=SQUID squid")

        for d in daemons:
            start_daemon(d, run, reaper)

        # The Python peers start while the daemons initialise.
        lines.append("ORIGIN_PORT=%d" % start_origin())
        try:
            lines.append("FTP_PORT=%d" % start_ftp(root))
        except ImportError:
            lines.append("MISSING=FTP python3-pyftpdlib")
        dead = reserve_dead_port()
        lines.append("DEAD_PORT=%d" % dead.getsockname()[1])
        silent = start_silent()
        lines.append("SILENT_PORT=%d" % silent.getsockname()[1])

        # Wait for every daemon to accept connections. One that exits early most
        # likely lost a race for its port: it gets another one, twice at most.
        pending = list(daemons)
        retries = {d.name: 2 for d in daemons}
        deadline = {d.name: time.monotonic() + opts.start_timeout for d in daemons}
        while pending and not done.is_set():
            for d in list(pending):
                if port_open(d.port):
                    lines.append("%s_PORT=%d" % (d.name, d.port))
                    pending.remove(d)
                elif d.proc.poll() is not None:
                    reaper.forget(d.proc.pid)
                    log = daemon_log(d, run)
                    if retries[d.name] > 0 and "in use" in log:
                        retries[d.name] -= 1
                        start_daemon(d, run, reaper)
                        continue
                    lines.append(failed_line(d, log))
                    pending.remove(d)
                elif time.monotonic() > deadline[d.name]:
                    lines.append("FAILED=%s %s did not open port %d in time" % (d.name, d.program, d.port))
                    pending.remove(d)
            if pending:
                time.sleep(0.01)

        # A daemon that lost its port to another program dies soon after that
        # program answered in its place.
        time.sleep(0.05)
        for d in daemons:
            if d.proc.poll() is not None and "%s_PORT=%d" % (d.name, d.port) in lines:
                lines.remove("%s_PORT=%d" % (d.name, d.port))
                lines.append(failed_line(d, daemon_log(d, run)))
        for name, addr in sorted(OUT_ADDR.items()):
            lines.append("%s_OUT=%s" % (name, addr))
        lines += [
            "FEATURE=" + FEATURE,
            "FTP_USER=" + FTP_USER,
            "FTP_PASSWORD=" + FTP_PASSWORD,
            "PROXY_USER=" + PROXY_USER,
            "PROXY_PASSWORD=" + PROXY_PASSWORD,
            "DIR=" + root,
            "STARTUP_MS=%d" % int((time.monotonic() - started) * 1000),
            "READY",
        ]
        sys.stdout.write("\n".join(lines) + "\n")
        sys.stdout.flush()

        if not opts.ignore_stdin:

            def watch_stdin():
                try:
                    while os.read(0, 4096):
                        pass
                except OSError:
                    pass
                done.set()

            threading.Thread(target=watch_stdin, name="stdin", daemon=True).start()
        done.wait(opts.max_seconds)
    finally:
        stopping.set()
        stop_daemons(daemons, reaper)
        if not opts.keep:
            shutil.rmtree(root, ignore_errors=True)
        reaper.release()
    # The server threads may be blocked in accept or select; they must not hold the
    # process open.
    sys.stdout.flush()
    os._exit(0)


if __name__ == "__main__":
    main()
