# The test hosts of the shards test and bench, sourced by them after they set
# `cli` (the build's quillberry-cli) and `set -euo pipefail`:
#
#   . tests/shards/testnet.sh
#
# Makes host1..host3 as network namespaces on a bridge of their own (10.213.N.0/24, N
# from the caller's pid) in a fifth namespace with no other interface, and a fourth,
# the controller ($ctl, run things there with in_ctl), each host with an sshd of its
# own and its own loopback peers (see shards_over_ssh.sh). Sets scratch, net, hosts,
# ssh_cmd, ns_of; removes everything it made when the caller exits (trap EXIT), also
# when it fails, and exits 77 where namespaces cannot be made.
skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ -x "$cli" ] || fail "no $cli (build the target quillberry-cli)"
[ "$(id -u)" = 0 ] || skip "network namespaces need root; CI runs this test as root"
for program in ip /usr/sbin/sshd ssh ssh-keygen parallel rsync tinyproxy curl python3 unshare; do
  command -v "$program" >/dev/null || skip "$program is not installed (scripts/install-deps.sh)"
done

tag=qbs$(($$ % 100000))
net=10.213.$(($$ % 200 + 20))
switch=$tag-sw
ctl=$tag-c
hosts=(host1 host2 host3)
ns_of() { echo "$tag-$1"; }
scratch=$(mktemp -d /tmp/qb-shards.XXXXXX)
made_ns=()

cleanup() {
  local rc=$?
  set +e
  # Every process of the test's namespaces is the test's own: sshd and its sessions,
  # the jobs, the peers, the endpoint.
  for ns in "${made_ns[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null; done
  done
  sleep 0.3
  for ns in "${made_ns[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
  done
  for ns in "${made_ns[@]}"; do ip netns del "$ns" 2>/dev/null; done
  if [ "$rc" != 0 ] && [ "$rc" != 77 ] && [ -d "$scratch" ]; then
    for log in "$scratch"/*.err "$scratch"/*/sshd.log; do
      [ -s "$log" ] && { echo "--- $log"; tail -8 "$log"; }
    done
  fi
  rm -rf "$scratch"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

new_ns() {
  ip netns add "$1" || return 1
  made_ns+=("$1")
  ip -n "$1" link set lo up
}

new_ns "$switch" 2>/dev/null || skip "network namespaces cannot be made here (ip netns add failed)"
ip -n "$switch" link add br0 type bridge
ip -n "$switch" link set br0 up
# A namespace on the bridge at $net.$2; the veth is made inside the two namespaces,
# never in the machine's own.
attach() {
  new_ns "$1"
  ip -n "$switch" link add "p$2" type veth peer name eth0 netns "$1"
  ip -n "$switch" link set "p$2" master br0 up
  ip -n "$1" addr add "$net.$2/24" dev eth0
  ip -n "$1" link set eth0 up
}
attach "$ctl" 10
for i in 1 2 3; do attach "$(ns_of host$i)" $((10 + i)); done
in_ctl() { ip netns exec "$ctl" "$@"; }

# --- keys, sshd and the client's own configuration ---------------------------------
chmod 755 "$scratch"
ssh-keygen -q -t ed25519 -N '' -C qb-shards-client -f "$scratch/client_key"
cp "$scratch/client_key.pub" "$scratch/authorized_keys"
: >"$scratch/known_hosts"
{
  echo "Host *"
  echo "  User root"
  echo "  IdentityFile $scratch/client_key"
  echo "  IdentitiesOnly yes"
  echo "  UserKnownHostsFile $scratch/known_hosts"
  echo "  GlobalKnownHostsFile /dev/null"
  echo "  StrictHostKeyChecking yes"
  echo "  BatchMode yes"
  echo "  ConnectTimeout 3"
  echo "  ServerAliveInterval 1"
  echo "  ServerAliveCountMax 3"
  echo "  LogLevel ERROR"
} >"$scratch/ssh_config"
for i in 1 2 3; do
  h=host$i
  dir=$scratch/$h
  # A data directory for each share a host may run (verify needs one to exist).
  mkdir -p "$dir/work" "$dir/one-data"
  for k in 1 2 3 4 5 6; do mkdir -p "$dir/work/data-$k"; done
  chmod 755 "$dir" "$dir/work"
  ssh-keygen -q -t ed25519 -N '' -C "qb-shards-$h" -f "$dir/host_key"
  echo "$net.1$i $(cut -d' ' -f1,2 "$dir/host_key.pub")" >>"$scratch/known_hosts"
  printf 'Host %s\n  HostName %s\n' "$h" "$net.1$i" >>"$scratch/ssh_config"
  cat >"$dir/sshd_config" <<EOF
ListenAddress $net.1$i:22
HostKey $dir/host_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $scratch/authorized_keys
AuthenticationMethods publickey
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
PermitRootLogin prohibit-password
StrictModes no
PrintMotd no
PrintLastLog no
UseDNS no
X11Forwarding no
AllowTcpForwarding no
MaxStartups 50:30:100
MaxSessions 50
# The sessions' shell reads its start-up files from here, not from root's home: a
# host killed mid-run must not leave anything half done outside the scratch directory
# (a shell profile's lock file, say).
SetEnv HOME=$scratch/home
EOF
done

# sshd wants /run/sshd and writes login records under /var/log: both are tmpfs of the
# host's own mount namespace (ip netns exec gives each command one), as is the work
# directory, which becomes the host's own.
start_host() {
  local h=$1 ns
  ns=$(ns_of "$h")
  (ip netns exec "$ns" sh -c '
    mount -t tmpfs -o mode=755 qb-run /run && mkdir -m 755 /run/sshd &&
    mount -t tmpfs -o mode=755 qb-log /var/log &&
    mount --bind "$1/work" "$2/work" &&
    exec /usr/sbin/sshd -D -e -f "$1/sshd_config"' sh "$scratch/$h" "$scratch" 2>"$scratch/$h/sshd.log" &)
  # The peers: two tinyproxies (only loopback destinations), a page origin, and a
  # port that takes connections and never answers.
  printf '^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$\n' >"$scratch/$h/filter"
  for port in 18881 18882; do
    touch "$scratch/$h/tinyproxy-$port.log"
    chmod 666 "$scratch/$h/tinyproxy-$port.log"
    cat >"$scratch/$h/tinyproxy-$port.conf" <<EOF
User nobody
Group nogroup
Port $port
Listen 127.0.0.1
Timeout 30
LogFile "$scratch/$h/tinyproxy-$port.log"
LogLevel Error
MaxClients 100
Allow 127.0.0.0/8
Filter "$scratch/$h/filter"
FilterType ere
FilterDefaultDeny Yes
EOF
    (ip netns exec "$ns" tinyproxy -d -c "$scratch/$h/tinyproxy-$port.conf" >/dev/null 2>&1 &)
  done
  (ip netns exec "$ns" python3 -c '
import http.server, os, socket, sys, threading
os.chdir(sys.argv[1])
class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *a): pass
held = []
def hold(port):
    silent = socket.socket()
    silent.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    silent.bind(("127.0.0.1", port))
    silent.listen(200)
    while True: held.append(silent.accept()[0])
for port in range(18883, 18889):
    threading.Thread(target=hold, args=(port,), daemon=True).start()
http.server.ThreadingHTTPServer(("127.0.0.1", 18080), Quiet).serve_forever()
' "$scratch/site" >/dev/null 2>&1 &)
}
mkdir -p "$scratch/site" "$scratch/work" "$scratch/home"
feature=ShardsFeature-5c1e
echo "<html><body>$feature</body></html>" >"$scratch/site/page.html"
for h in "${hosts[@]}"; do start_host "$h"; done

ssh_cmd="ssh -F $scratch/ssh_config"
up=0
for _ in $(seq 100); do
  up=0
  for h in "${hosts[@]}"; do
    in_ctl $ssh_cmd "$h" true 2>/dev/null && up=$((up + 1))
  done
  [ "$up" = 3 ] && break
  sleep 0.1
done
[ "$up" = 3 ] || fail "the hosts' sshd did not answer over the test network"
for h in "${hosts[@]}"; do
  for _ in $(seq 50); do
    ip netns exec "$(ns_of "$h")" curl -s --noproxy '*' --max-time 2 -x http://127.0.0.1:18881 \
      http://127.0.0.1:18080/page.html 2>/dev/null | grep -q "$feature" && continue 2
    sleep 0.1
  done
  fail "the peers of $h did not start"
done

