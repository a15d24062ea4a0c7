#!/usr/bin/env bash
# One list of 10,000 farm proxies verified by one host, and in shares by three hosts
# over ssh through GNU parallel, merged: the wall time of each and whether the rows
# agree.
#
#   bench/shards_ssh.sh [BUILD_DIR]               (default: build; root only)
#   THREADS=1000 SHARES=6 RUNS=1 bench/shards_ssh.sh build
#
# The hosts are the network namespaces of the shards test (tests/shards/testnet.sh):
# host1..host3 with an sshd each, and a controller that runs parallel and merge. The
# farm of EngineFarmBench (one epoll process, 10,000 fake HTTP proxies on 127.a.b.c
# that answer after 200 ms; 30% refuse, 10% never answer) listens on the loopback of
# the namespace it runs in, so each host runs a farm of its own, all on one port: a
# host checks the list's proxies against its own copy of the farm. That is what three
# machines with the proxies out on the network would do, less the network between:
# nothing leaves the test's namespaces. The three "machines" share this machine's
# cores, so the figure that means something is the ratio of the three-host run to
# the one-host run on the same cores, not the time itself.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
cli=$build/quillberry-cli
farm=$build/bench/EngineFarmBench
threads=${THREADS:-1000}
shares=${SHARES:-6}
runs=${RUNS:-1}
proxies=10000
farm_port=18950
[ -x "$farm" ] || { echo "no $farm: build the targets quillberry-cli and EngineFarmBench first" >&2; exit 2; }

. "$here/../tests/shards/testnet.sh"

for h in "${hosts[@]}"; do
  mkfifo "$scratch/$h/farm.in"
  (ip netns exec "$(ns_of "$h")" env QB_FARM_PORT=$farm_port "$farm" farm 0 $proxies 200 30 10 \
    <"$scratch/$h/farm.in" >"$scratch/$h/farm.out" 2>&1 &)
  # Held open by this script: the farm ends when it closes.
  exec {fd}>"$scratch/$h/farm.in"
done
for h in "${hosts[@]}"; do
  for _ in $(seq 300); do
    grep -q "^READY $farm_port" "$scratch/$h/farm.out" && continue 2
    sleep 0.1
  done
  fail "the farm of $h did not start: $(cat "$scratch/$h/farm.out")"
done

list=$scratch/ctl/list.txt
mkdir -p "$scratch/ctl" "$scratch/ctl-data"
python3 - "$farm_port" "$proxies" >"$list" <<'PY'
import sys
port, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    print(f"127.{i // 62500 + 1}.{(i // 250) % 250 + 1}.{i % 250 + 1}:{port}@HTTP$未验证#farm {i}")
PY
verify_args=(verify --connect-timeout 3 --verify-timeout 3 --threads "$threads"
             --http http://127.0.0.1/farm.html FarmFeature-7f3a)

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
now() { date +%s.%N; }
elapsed() { python3 -c "print(f'{$2 - $1:.2f}')"; }

export PARALLEL_HOME=$scratch/parallel-home
mkdir -p "$PARALLEL_HOME"
printf '%-4s %-12s %-12s %-12s %-9s %s\n' run one_host_s three_hosts_s merge_s ratio same_rows
all_same=yes
for run in $(seq "$runs"); do
  # One host: the whole list in one process on host1, over ssh like the shares.
  t0=$(now)
  (cd "$scratch/ctl" && in_ctl parallel --will-cite -q --ssh "$ssh_cmd" --sshlogin 1/host1 \
    --workdir "$scratch/work" --transferfile list.txt \
    "$cli" --data-dir "data-{}" "${verify_args[@]}" list.txt ::: 1) >"$scratch/one.txt" 2>"$scratch/one.err"
  t1=$(now)
  (cd "$scratch/ctl" && in_ctl parallel --will-cite -q --ssh "$ssh_cmd" \
    --sshlogin "$((shares / 3))/host1,$((shares / 3))/host2,$((shares / 3))/host3" \
    --workdir "$scratch/work" --transferfile list.txt \
    "$cli" --data-dir "data-{}" "${verify_args[@]}" --format jsonl --shard "{}/$shares" list.txt \
    ::: $(seq "$shares")) >"$scratch/shares.jsonl" 2>"$scratch/shares.err" || true
  t2=$(now)
  in_ctl "$cli" --data-dir "$scratch/ctl-data" merge "$scratch/shares.jsonl" >"$scratch/merged.txt" 2>"$scratch/merge.err"
  echo "shares: $(wc -l <"$scratch/shares.jsonl") lines; $(cat "$scratch/merge.err")" >&2
  t3=$(now)
  outcomes <"$scratch/one.txt" >"$scratch/one.rows"
  outcomes <"$scratch/merged.txt" >"$scratch/merged.rows"
  same=yes
  cmp -s <(sort "$scratch/one.rows") <(sort "$scratch/merged.rows") || same=no
  cmp -s <(cut -f1 "$scratch/one.rows") <(cut -f1 "$scratch/merged.rows") || same=no
  [ "$same" = yes ] || all_same=no
  printf '%-4s %-12s %-12s %-12s %-9s %s\n' "$run" "$(elapsed "$t0" "$t1")" "$(elapsed "$t1" "$t2")" \
    "$(elapsed "$t2" "$t3")" "$(python3 -c "print(f'{($t1 - $t0) / ($t2 - $t1):.2f}')")" \
    "$same ($(wc -l <"$scratch/one.txt")/$(wc -l <"$scratch/merged.txt") rows)"
  [ "$same" = yes ] || diff <(sort "$scratch/one.rows") <(sort "$scratch/merged.rows") | head -10 >&2 || true
done
echo "outcomes: $(cut -f1 "$scratch/one.rows" | sort | uniq -c | tr -s ' ' | tr '\n' ';')"
echo "threads: $threads in the one-host run and in each of $shares shares ($((shares / 3)) per host at once);" \
  "$(nproc) cores shared by all hosts; load: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$all_same" = yes ]
