#!/usr/bin/env bash
# Shards of one verification on three machines over ssh, merged, and an endpoint fed
# by the merges.
#
#   tests/shards/shards_over_ssh.sh BUILD_DIR
#
# The three "machines" are network namespaces this script makes: host1..host3 on a
# bridge of their own (10.213.N.0/24, N from the script's pid), and a fourth, the
# controller, where GNU parallel, ssh and the merges run. The bridge lives in a fifth
# namespace with no other interface, so no packet of the test reaches the machine's
# own network or beyond. Each host runs an sshd of the test (its own config, host key
# and authorized key in the scratch directory, listening only on the host's test
# address) and its own peers on 127.0.0.1 of its namespace: two tinyproxies, a page
# origin and a port that accepts and never answers. The list names those 127.0.0.1
# ports, so whichever host checks a proxy checks the same peers, inside its own
# namespace. The "remote" quillberry-cli is this build's: the namespaces differ in
# their network only and see the same files, so the path is valid on every host.
# Each sshd runs in a mount namespace of its own where the scratch "work" directory
# is that host's own directory: the list parallel transfers lands on each host
# separately, as it would on separate machines.
#
# It shows that
#   1. six shares over the three hosts (--sshlogin 2/host1,2/host2,2/host3,
#      --transferfile list.txt, the outputs back over ssh on standard output), merged,
#      give the rows of one run over the whole list: the same proxies with the same
#      outcomes, in the same order of outcomes;
#   2. a host that dies mid-run (every process of it killed and its link set down)
#      has its shares retried on the others (--resume-failed with the run's joblog),
#      the merged rows are still those of one run, and the joblog tells which shares
#      were retried where;
#   3. `serve --api` on the controller's test address answers a curl from a host, and
#      its pool follows the merges written into its data directory.
#
# Exit 77 (ctest's skip) where namespaces cannot be made (not root, no `ip netns`) or
# a program is missing. Everything the test makes (namespaces, bridge, veths, daemons,
# keys) is removed when it ends, also when it fails.
set -euo pipefail

build=$(cd "${1:?usage: shards_over_ssh.sh BUILD_DIR}" && pwd)
cli=$build/quillberry-cli
. "$(dirname "$0")/testnet.sh"

# --- the list ----------------------------------------------------------------------
ctl_dir=$scratch/ctl
mkdir -p "$ctl_dir" "$scratch/ctl-data"
{
  echo "127.0.0.1:18881@HTTP\$未验证#first proxy"
  echo "127.0.0.1:18882@HTTP\$未验证#second proxy"
  echo "127.0.0.1:18881@SOCKS5\$未验证#no socks here"
  # A proxy that never answers: each share holding one takes the reply time-out.
  for port in 18883 18884 18885 18886 18887 18888; do echo "127.0.0.1:$port@HTTP\$未验证#silent $port"; done
  for i in $(seq 1 36); do echo "127.0.1.$i:19001@HTTP\$未验证#dead $i"; done
} >"$ctl_dir/list.txt"
rows=$(wc -l <"$ctl_dir/list.txt")
shares=6
verify_args=(verify --format jsonl --connect-timeout 2 --verify-timeout 2
             --http http://127.0.0.1:18080/page.html "$feature")

# A row reduced to what must agree between runs: its outcome (a time, or the
# failure's text) and the proxy with its remark.
outcomes() {
  python3 -c '
import re, sys
for line in sys.stdin:
    m = re.match(r"([^$#]*)(?:\$([^#]*))?(?:#(.*))?$", line.rstrip("\r\n"))
    status = m.group(2) or ""
    cls = "time" if re.fullmatch(r"[0-9]+(\.[0-9]+)?", status) else status
    print(cls + "\t" + m.group(1) + "\t" + (m.group(3) or ""))
'
}
same_rows() {
  local one=$1 merged=$2
  outcomes <"$one" >"$one.rows"
  outcomes <"$merged" >"$merged.rows"
  [ "$(wc -l <"$merged")" = "$rows" ] || { echo "merged $(wc -l <"$merged") rows of $rows" >&2; return 1; }
  if ! cmp -s <(sort "$one.rows") <(sort "$merged.rows"); then
    diff <(sort "$one.rows") <(sort "$merged.rows") >&2 || true
    return 1
  fi
  cmp -s <(cut -f1 "$one.rows") <(cut -f1 "$merged.rows")
}

# One run over the whole list, on host1 by itself.
ip netns exec "$(ns_of host1)" "$cli" --data-dir "$scratch/host1/one-data" verify --connect-timeout 2 \
  --verify-timeout 2 --http http://127.0.0.1:18080/page.html "$feature" "$ctl_dir/list.txt" \
  >"$scratch/one.txt" 2>"$scratch/one.err" || fail "the single run failed"
outcomes <"$scratch/one.txt" | cut -f1 | sort | uniq -c >"$scratch/one.classes"
grep -q ' 2 time$' "$scratch/one.classes" || fail "the single run did not find the two proxies working: $(cat "$scratch/one.classes")"

# --- 1. six shares over three hosts --------------------------------------------------
export PARALLEL_HOME=$scratch/parallel-home
mkdir -p "$PARALLEL_HOME"
run_shares() {
  local joblog=$1
  shift
  # The configuration directory the test command gives every process reaches the
  # remote jobs too (ssh passes no environment of its own accord).
  local env=()
  [ -n "${XDG_CONFIG_HOME:-}" ] && env=(--env XDG_CONFIG_HOME)
  (cd "$ctl_dir" && in_ctl parallel --will-cite -q --ssh "$ssh_cmd" "${env[@]}" "$@" \
    --workdir "$scratch/work" --transferfile list.txt --joblog "$joblog" \
    "$cli" --data-dir "data-{}" "${verify_args[@]}" --shard "{}/$shares" list.txt \
    ::: $(seq "$shares"))
}
# A share that happens to hold no proxy ends with 1: only ssh's and parallel's own
# failures count.
run_shares "$scratch/joblog1" --sshlogin 2/host1,2/host2,2/host3 >"$ctl_dir/shares1.jsonl" \
  2>"$scratch/shares1.err" || true
in_ctl "$cli" --data-dir "$scratch/ctl-data" merge "$ctl_dir/shares1.jsonl" >"$scratch/merged1.txt" \
  2>"$scratch/merge1.err" || fail "merge failed: $(cat "$scratch/merge1.err")"
same_rows "$scratch/one.txt" "$scratch/merged1.txt" || fail "the merged shares are not the rows of one run"
# Each host ran shares, each with the list transferred to it.
for h in "${hosts[@]}"; do
  awk -F'\t' -v h="$h" 'NR > 1 && $2 == h' "$scratch/joblog1" | grep -q . || fail "$h ran no share"
  cmp -s "$ctl_dir/list.txt" "$scratch/$h/work/list.txt" || fail "the list was not transferred to $h"
done
[ ! -e "$scratch/work/list.txt" ] || fail "the list landed in the controller's own work directory"
echo "ok: $shares shares on 3 hosts merged to the $rows rows of one run"

# --- 2. a host dies mid-run ----------------------------------------------------------
run_shares "$scratch/joblog2" --sshlogin 2/host1,2/host2,2/host3 >"$ctl_dir/shares2.jsonl" \
  2>"$scratch/shares2.err" &
run_pid=$!
victim=$(ns_of host3)
killed=no
for _ in $(seq 200); do
  for pid in $(ip netns pids "$victim"); do
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = quillberry-cli ]; then
      killed=yes
      break 2
    fi
  done
  sleep 0.05
done
[ "$killed" = yes ] || fail "host3 never ran a share: $(for pid in $(ip netns pids "$victim"); do cat /proc/$pid/comm; done | sort | uniq -c | tr '\n' ' ')"
# The machine goes away: its processes end and its network is gone.
for pid in $(ip netns pids "$victim"); do kill -9 "$pid" 2>/dev/null || true; done
ip -n "$victim" link set eth0 down
wait "$run_pid" || true
# The shares that failed, again on the hosts that are left: the joblog says which, and
# gets a line for each new attempt (parallel's --retries would log only the last).
run_shares "$scratch/joblog2" --sshlogin 2/host1,2/host2 --resume-failed >>"$ctl_dir/shares2.jsonl" \
  2>>"$scratch/shares2.err" || true
in_ctl "$cli" --data-dir "$scratch/ctl-data" merge "$ctl_dir/shares2.jsonl" >"$scratch/merged2.txt" \
  2>"$scratch/merge2.err" || fail "merge failed: $(cat "$scratch/merge2.err")"
same_rows "$scratch/one.txt" "$scratch/merged2.txt" || fail "after host3 died, the merged shares are not the rows of one run"
# The joblog: a line per attempt (Seq Host Starttime JobRuntime Send Receive Exitval
# Signal Command). A share is done when one attempt ended 0 or 1 (a share without
# proxies); a share with an attempt that failed on one host and one that finished on
# another was retried.
python3 - "$scratch/joblog2" "$shares" >"$scratch/retried.txt" <<'PY'
import collections, sys
attempts = collections.defaultdict(list)
with open(sys.argv[1]) as log:
    next(log)
    for line in log:
        f = line.rstrip("\n").split("\t")
        attempts[int(f[0])].append((f[1], int(f[6]), int(f[7])))
bad = [s for s in range(1, int(sys.argv[2]) + 1)
       if not any(code in (0, 1) and sig == 0 for _, code, sig in attempts[s])]
for seq in sorted(attempts):
    tries = attempts[seq]
    failed = [t for t in tries if t[1] not in (0, 1) or t[2] != 0]
    done = [t for t in tries if t[1] in (0, 1) and t[2] == 0]
    if failed and done:
        print("share %d: failed on %s (exit %d), retried on %s" % (
            seq, ", ".join(h for h, _, _ in failed), failed[-1][1], done[-1][0]))
if bad:
    print("NOT DONE: shares %s" % bad)
PY
cat "$scratch/retried.txt"
! grep -q "NOT DONE" "$scratch/retried.txt" || fail "some shares were never done"
grep -q "failed on host3" "$scratch/retried.txt" || fail "no share that failed on host3 was retried: $(cat "$scratch/joblog2")"
echo "ok: host3 died mid-run; its shares were retried and the merged rows are still those of one run"

# --- 3. one endpoint fed by the merges ---------------------------------------------
endpoint=$scratch/endpoint
mkdir -p "$endpoint"
: >"$endpoint/Proxies.pro"
api=$net.10:18900
in_ctl "$cli" --data-dir "$endpoint" serve --listen 127.0.0.1:18899 --api "$api" --check-interval 0 \
  >"$scratch/serve.out" 2>"$scratch/serve.err" &
ask() {
  ip netns exec "$(ns_of host1)" curl -s --noproxy '*' --max-time 2 "http://$api/count"
}
count=
for _ in $(seq 100); do
  count=$(ask || true)
  [ -n "$count" ] && break
  sleep 0.1
done
echo "$count" | grep -q '"ok":0' || fail "the endpoint's API did not answer on the test network: '$count'"
in_ctl "$cli" --data-dir "$endpoint" merge --into-list "$ctl_dir/shares1.jsonl" >"$scratch/merge3.out" \
  2>"$scratch/merge3.err" || fail "merge --into-list failed: $(cat "$scratch/merge3.err")"
for _ in $(seq 100); do
  count=$(ask || true)
  echo "$count" | grep -q '"ok":2' && break
  sleep 0.1
done
echo "$count" | grep -q '"ok":2' || fail "the endpoint's pool did not follow the merge: '$count'"
echo "ok: serve --api on $api answered host1; after a merge into its directory: $count"
