#!/bin/bash
# The cost of a check over HTTPS against one over plain HTTP through the same proxy:
#   bench/trust_https.sh [BUILD_DIR] [N] [CONCURRENT]
# An origin on 127.0.0.1 serves one page over HTTP and HTTPS (a certificate from a CA
# made here with openssl), tinyproxy carries both; nothing leaves the machine.
set -eu
build=${1:-build}
n=${2:-1000}
c=${3:-10}
bench="$build/bench/TrustRouteBench"
[ -x "$bench" ] || { echo "build the TrustRouteBench target first" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/ca.key" \
  -out "$work/ca.pem" -days 2 -subj "/CN=bench CA" -addext basicConstraints=critical,CA:TRUE 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/o.key" \
  -out "$work/o.csr" -subj /CN=127.0.0.1 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >"$work/ext"
openssl x509 -req -in "$work/o.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -out "$work/o.pem" -days 2 -extfile "$work/ext" 2>/dev/null
plain=$(free_port); tls=$(free_port); proxy=$(free_port)
cat >"$work/origin.py" <<'PY'
import http.server, socketserver, ssl, sys, threading
PAGE = b"<html><body>\r\n<p>BenchPage</p>\r\n</body></html>\r\n"
class Page(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def log_message(self, *a): pass
    def do_GET(self):
        self.send_response(200); self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(PAGE))); self.end_headers(); self.wfile.write(PAGE)
class S(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 128
p = S(("127.0.0.1", int(sys.argv[1])), Page)
threading.Thread(target=p.serve_forever, daemon=True).start()
t = S(("127.0.0.1", int(sys.argv[2])), Page)
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); ctx.load_cert_chain(sys.argv[3], sys.argv[4])
t.socket = ctx.wrap_socket(t.socket, server_side=True)
t.serve_forever()
PY
python3 "$work/origin.py" "$plain" "$tls" "$work/o.pem" "$work/o.key" & pids+=($!)
printf 'Port %s\nListen 127.0.0.1\nTimeout 60\nMaxClients 200\nLogLevel Critical\n' "$proxy" >"$work/tp.conf"
tinyproxy -d -c "$work/tp.conf" & pids+=($!)
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$proxy") 2>/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$tls") 2>/dev/null && break
  sleep 0.1
done
echo "# $(date -u '+%F %T') UTC, $(nproc) cores; load: $(uptime | sed 's/.*load average: //')"
"$bench" "$proxy" http "http://127.0.0.1:$plain/" "https://127.0.0.1:$tls/" "$work/ca.pem" BenchPage "$n" "$c"
echo "# load after: $(uptime | sed 's/.*load average: //')"
