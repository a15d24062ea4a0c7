#!/usr/bin/env bash
# One verification of a list against four shares of it run by GNU parallel on this
# machine and merged: whether they give the same rows, and the wall time of each.
#
# The peers are the loopback farm of VerifyFarmBench (one epoll process, 2,000 fake
# HTTP proxies on 127.0.x.y that answer after 200 ms; with --refuse-half every second
# address refuses). Nothing leaves 127.0.0.0/8: the resource URL is answered by the
# farm itself.
#
#   bench/shards_parallel.sh [BUILD_DIR]             (default: build)
#   THREADS=100 SHARDS=4 RUNS=1 bench/shards_parallel.sh build
#
# "Same rows" means: the same proxies, each with the same outcome (a measured time, or
# the same failure text) and remark, and the same sequence of outcomes from the top of
# the sorted list down. The times themselves differ from run to run. Each shard gets
# THREADS workers, as each machine of a real spread would; SHARED=1 gives each shard
# THREADS/SHARDS instead, so that both sides have the same workers in all.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
cli=$build/quillberry-cli
farm=$build/bench/VerifyFarmBench
threads=${THREADS:-100}
shards=${SHARDS:-4}
runs=${RUNS:-1}
per_shard=$threads
[ "${SHARED:-0}" = 1 ] && per_shard=$(( (threads + shards - 1) / shards ))

for need in "$cli" "$farm"; do
  if [ ! -x "$need" ]; then
    echo "no $need: build the targets quillberry-cli and VerifyFarmBench first" >&2
    exit 2
  fi
done
command -v parallel >/dev/null || { echo "GNU parallel is not installed (scripts/install-deps.sh)" >&2; exit 2; }

tmp=$(mktemp -d)
farm_pid=
cleanup() {
  # The farm ends when its standard input closes; the pid is only the fallback.
  [ -n "${farm_in:-}" ] && exec {farm_in}>&- 2>/dev/null || true
  if [ -n "$farm_pid" ]; then
    sleep 0.2
    kill "$farm_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# What parallel keeps about its hosts stays with the run, not in the user's home.
export PARALLEL_HOME=$tmp/parallel-home
mkdir -p "$PARALLEL_HOME"
mkfifo "$tmp/farm.in"
"$farm" --farm --refuse-half <"$tmp/farm.in" >"$tmp/farm.out" &
farm_pid=$!
exec {farm_in}>"$tmp/farm.in"
port=
for _ in $(seq 300); do
  port=$(sed -n 's/^READY //p' "$tmp/farm.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the farm did not start" >&2; exit 1; }

/usr/bin/python3 - "$port" >"$tmp/list.txt" <<'PY'
import sys
port = sys.argv[1]
for i in range(2000):
    print(f"127.0.{i // 250 + 1}.{i % 250 + 1}:{port}@HTTP$未验证#farm {i}")
PY

data=$tmp/data
mkdir -p "$data"
verify=("$cli" --data-dir "$data" verify --connect-timeout 3 --verify-timeout 5
        --http http://127.0.0.1/farm.html FarmFeature-7f3a)

# A row reduced to what must agree: the proxy, its outcome class and its remark.
outcomes() {
  /usr/bin/python3 -c '
import re, sys
for line in sys.stdin:
    line = line.rstrip("\r\n")
    m = re.match(r"([^$#]*)(?:\$([^#]*))?(?:#(.*))?$", line)
    status = m.group(2) or ""
    cls = "time" if re.fullmatch(r"[0-9]+(\.[0-9]+)?", status) else status
    print(cls + "\t" + m.group(1) + "\t" + (m.group(3) or ""))
'
}

now() { date +%s.%N; }
elapsed() { /usr/bin/python3 -c "print(f'{$2 - $1:.2f}')"; }

printf '%-4s %-9s %-12s %-12s %-10s %s\n' run rows one_run_s shards_s merge_s same_rows
all_same=yes
for run in $(seq "$runs"); do
  t0=$(now)
  "${verify[@]}" --threads "$threads" "$tmp/list.txt" >"$tmp/one.txt" 2>"$tmp/one.err"
  t1=$(now)
  parallel --will-cite -q -j "$shards" "${verify[@]}" --threads "$per_shard" --format jsonl \
    --shard "{}/$shards" "$tmp/list.txt" ::: $(seq "$shards") >"$tmp/shards.jsonl" 2>"$tmp/shards.err" || true
  t2=$(now)
  "$cli" --data-dir "$data" merge "$tmp/shards.jsonl" >"$tmp/merged.txt"
  t3=$(now)

  outcomes <"$tmp/one.txt" >"$tmp/one.rows"
  outcomes <"$tmp/merged.txt" >"$tmp/merged.rows"
  same=yes
  # The proxies with their outcomes, and the order of the outcomes down the list.
  cmp -s <(sort "$tmp/one.rows") <(sort "$tmp/merged.rows") || same=no
  cmp -s <(cut -f1 "$tmp/one.rows") <(cut -f1 "$tmp/merged.rows") || same=no
  [ "$same" = yes ] || all_same=no
  printf '%-4s %-9s %-12s %-12s %-10s %s\n' "$run" "$(wc -l <"$tmp/one.txt")/$(wc -l <"$tmp/merged.txt")" \
    "$(elapsed "$t0" "$t1")" "$(elapsed "$t1" "$t2")" "$(elapsed "$t2" "$t3")" "$same"
  if [ "$same" = no ]; then
    diff <(sort "$tmp/one.rows") <(sort "$tmp/merged.rows") | head -20 >&2 || true
  fi
done
echo "outcomes: $(cut -f1 "$tmp/one.rows" | sort | uniq -c | tr -s ' ' | tr '\n' ';')"
echo "threads: one run $threads; each of $shards shards $per_shard; load: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$all_same" = yes ]
