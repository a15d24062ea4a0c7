#!/usr/bin/env bash
# `quillberry-cli merge` over the outputs of a large verification, beside
# `LC_ALL=C sort -u` of the same file (which only drops repeated lines: merge keeps one
# row per proxy, the last result winning, and prints them sorted by time). Wall time,
# processor time (all threads) and peak memory (GNU time's %M) of each run; medians of
# RUNS runs, taken in turn so that every command meets the same moments of a shared
# machine, whose load is shown before and after.
#
#   bench/merge_vs_sort.sh [BUILD_DIR]                (default: build)
#   RUNS=5 ROWS=10000000 bench/merge_vs_sort.sh build
#   INPUT=FILE bench/merge_vs_sort.sh                 (an existing output instead)
#   BASE=OTHER_BUILD/quillberry-cli bench/merge_vs_sort.sh   (another build beside it;
#                                     its output must be the same bytes)
#   INTO_LIST=1 ...                   (also merge --into-list into an empty data directory)
#
# The input is made by make_merge_input.py: ROWS lines (10,000,000 by default), 85 % of
# them distinct proxies.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/lib/compare.sh
. "$here/lib/compare.sh"
build=${1:-$here/../build}
cli=$build/quillberry-cli
rows=${ROWS:-10000000}
runs=${RUNS:-3}
base=${BASE:-}
timer=/usr/bin/time

if [ ! -x "$cli" ]; then
  echo "no $cli: build the target quillberry-cli first" >&2
  exit 2
fi
if [ ! -x "$timer" ]; then
  echo "no $timer: install GNU time (scripts/install-deps.sh)" >&2
  exit 2
fi

make_scratch_dirs

input=${INPUT:-}
if [ -z "$input" ]; then
  input=$tmp/outputs.txt
  /usr/bin/python3 "$here/make_merge_input.py" "$input" "$rows"
fi
bytes=$(stat -c %s "$input")
cat "$input" >/dev/null  # into the page cache, for every command alike

# One run of a command, its output to $2.
run() {
  local name=$1 out=$2
  shift 2
  local t0 t1
  t0=$(date +%s%N)
  "$timer" -f '%M %U %S' -o "$tmp/$name.mem" "$@" >"$out"
  t1=$(date +%s%N)
  # wall ns, peak KiB, processor time ms
  echo "$(( t1 - t0 )) $(tail -n 1 "$tmp/$name.mem" | awk '{ printf "%d %d", $1, ($2 + $3) * 1000 }')" >>"$tmp/$name.runs"
}

names=(merge sort)
[ -n "$base" ] && names+=(base)
[ -n "${INTO_LIST:-}" ] && names+=(into-list)
echo "input: $input, $(wc -l <"$input") lines, $bytes bytes"
echo "machine: $(nproc) cores; before: $(uptime)"
for _ in $(seq "$runs"); do
  run merge "$mem/merge.out" "$cli" merge "$input"
  run sort "$mem/sort.out" env LC_ALL=C sort -u "$input"
  rm -f "$mem/sort.out"
  if [ -n "$base" ]; then
    run base "$mem/base.out" "$base" merge "$input"
    cmp -s "$mem/merge.out" "$mem/base.out" || { echo "the base build's output differs" >&2; exit 1; }
    rm -f "$mem/base.out"
  fi
  if [ -n "${INTO_LIST:-}" ]; then
    rm -rf "$tmp/data" && mkdir "$tmp/data"
    run into-list /dev/null env XDG_CONFIG_HOME="$tmp/config" "$cli" --data-dir "$tmp/data" merge --into-list "$input"
  fi
done
echo "after: $(uptime)"
[ -n "$base" ] && echo "the base build printed the same bytes in every run"
echo

median() {  # column $2 of file $1
  awk -v c="$2" '{ print $c }' "$1" | median_of_lines
}
args=("$bytes")
for name in "${names[@]}"; do
  args+=("$name" "$(median "$tmp/$name.runs" 1)" "$(median "$tmp/$name.runs" 2)" "$(median "$tmp/$name.runs" 3)"
    "$(cut -d' ' -f1 "$tmp/$name.runs" | tr '\n' ' ')")
done
/usr/bin/python3 - "${args[@]}" <<'PY'
import sys

nbytes = int(sys.argv[1])
rows = {}
rest = sys.argv[2:]
for i in range(0, len(rest), 5):
    name, ns, kib, cpu_ms, each = rest[i:i + 5]
    ns, kib, cpu_ms = int(ns), int(kib), int(cpu_ms)
    rows[name] = (ns / 1e9, kib)
    label = {"merge": "quillberry-cli merge", "sort": "LC_ALL=C sort -u", "base": "base build's merge",
             "into-list": "merge --into-list"}[name]
    print(f"{label:<22} {ns / 1e9:7.2f} s  cpu {cpu_ms / 1000:6.2f} s  peak {kib / 1024:7.1f} MiB"
          f" ({kib * 1024 / nbytes:.2f}x the input)   runs, s: {' '.join(f'{int(x) / 1e9:.2f}' for x in each.split())}")
print()
m, s = rows["merge"], rows["sort"]
def verdict(ok):
    return "met" if ok else "NOT met"
print(f"merge vs sort -u: {m[0] / s[0]:.2f}x its time   (target <= 1.5: {verdict(m[0] <= 1.5 * s[0])})")
ratio = m[1] * 1024 / nbytes
print(f"merge peak memory: {ratio:.2f}x the input   (target <= 1.2: {verdict(ratio <= 1.2)})")
if "base" in rows:
    b = rows["base"]
    print(f"base build: {b[0] / m[0]:.1f}x this build's time, {b[1] / m[1]:.1f}x its memory")
PY
