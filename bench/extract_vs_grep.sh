#!/usr/bin/env bash
# `quillberry-cli extract` on a large mixed page in GBK (Chinese prose with proxies,
# an HTML table, plain and typed lists, URLs with a log-on), side by side with
# ripgrep and grep pulling the address:port pairs out of the same page. Every command
# writes its matches to a file (GNU grep stops at the first match when its output is
# /dev/null). Wall time and peak memory (GNU time's %M) of each run; the figures are
# medians of RUNS runs, taken in turn so that all three meet the same moments of a
# shared machine, whose load is shown before and after.
#
#   bench/extract_vs_grep.sh [BUILD_DIR [BASE_BUILD_DIR]]   (default: build)
#   SIZE_MB=100 RUNS=5 bench/extract_vs_grep.sh build-release
#   PAGE=FILE bench/extract_vs_grep.sh           (an existing page instead)
#   SPARSE="1 8 64" bench/extract_vs_grep.sh     (the pages measured, the default)
#
# SPARSE names the pages: 1 is the page of make_mixed_page.py, 8 and 64 have that
# many times fewer proxies per MiB (the rest the same kinds of text, markup and
# tables without a proxy). Given BASE_BUILD_DIR, that build's extract runs on each
# page too, and its output must be the same bytes as this build's (the script exits 1
# otherwise). MB here is 2^20 bytes.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/lib/compare.sh
. "$here/lib/compare.sh"
build=${1:-$here/../build}
cli=$build/quillberry-cli
base_cli=${2:+$2/quillberry-cli}
sparse_list=${SPARSE:-1 8 64}
size_mb=${SIZE_MB:-100}
runs=${RUNS:-5}
timer=/usr/bin/time

if [ ! -x "$cli" ]; then
  echo "no $cli: build the target quillberry-cli first" >&2
  exit 2
fi
if [ ! -x "$timer" ]; then
  echo "no $timer: install GNU time (scripts/install-deps.sh)" >&2
  exit 2
fi
command -v rg >/dev/null || { echo "no rg: install ripgrep (scripts/install-deps.sh)" >&2; exit 2; }

if [ -n "$base_cli" ] && [ ! -x "$base_cli" ]; then
  echo "no $base_cli: build the target quillberry-cli there first" >&2
  exit 2
fi

make_scratch_dirs

pattern=$address_port_pattern
differs=0

# Measures the page $1.
measure() {
page=$1
rm -f "$tmp"/*.runs
bytes=$(stat -c %s "$page")
cat "$page" >/dev/null  # into the page cache, for every command alike

# One run of a command, its output to $2.
run() {
  local name=$1 out=$2
  shift 2
  local t0 t1
  t0=$(date +%s%N)
  "$timer" -f '%M %U %S' -o "$tmp/$name.mem" "$@" >"$out"
  t1=$(date +%s%N)
  # wall ns, peak KiB, processor time ms (user and system, all threads)
  echo "$(( t1 - t0 )) $(tail -n 1 "$tmp/$name.mem" | awk '{ printf "%d %d", $1, ($2 + $3) * 1000 }')" >>"$tmp/$name.runs"
}

echo "page: $bytes bytes ($(( bytes >> 20 )) MB)"
echo "machine: $(nproc) cores; before: $(uptime)"
for _ in $(seq "$runs"); do
  run extract "$mem/extract.out" "$cli" extract "$page"
  run rg "$mem/rg.out" rg -o "$pattern" "$page"
  run grep "$mem/grep.out" env LC_ALL=C grep -oE "$pattern" "$page"
  if [ -n "$base_cli" ]; then run base "$mem/base.out" "$base_cli" extract "$page"; fi
done
echo "after: $(uptime)"
echo

median() {  # column $2 of file $1
  awk -v c="$2" '{ print $c }' "$1" | median_of_lines
}
/usr/bin/python3 - "$bytes" \
  "$(median "$tmp/extract.runs" 1)" "$(median "$tmp/extract.runs" 2)" "$(median "$tmp/extract.runs" 3)" \
  "$(wc -l <"$mem/extract.out")" \
  "$(median "$tmp/rg.runs" 1)" "$(median "$tmp/rg.runs" 2)" "$(median "$tmp/rg.runs" 3)" "$(wc -l <"$mem/rg.out")" \
  "$(median "$tmp/grep.runs" 1)" "$(median "$tmp/grep.runs" 2)" "$(median "$tmp/grep.runs" 3)" \
  "$(wc -l <"$mem/grep.out")" "$(cut -d' ' -f1 "$tmp/extract.runs" | tr '\n' ' ')" <<'PY'
import sys

nbytes = int(sys.argv[1])
mb = nbytes / 2**20
rows = {}
for i, name in enumerate(("quillberry-cli extract", "rg -o", "LC_ALL=C grep -oE")):
    ns, kib, cpu_ms, lines = (int(x) for x in sys.argv[2 + 4 * i: 6 + 4 * i])
    rows[name] = (ns / 1e9, kib, cpu_ms)
    print(f"{name:<24} {ns / 1e6:7.0f} ms  {mb / (ns / 1e9):6.1f} MB/s  cpu {cpu_ms:5d} ms"
          f"  peak {kib / 1024:6.1f} MiB ({kib * 1024 / nbytes:.2f}x the page)  {lines} lines")
print(f"each extract run, ms: {' '.join(f'{int(x) / 1e6:.0f}' for x in sys.argv[14].split())}")
print("(extract prints each proxy once; rg and grep print every address:port, repeats included;")
print(" cpu is user and system time of all threads)")
print()
ex, rg, gr = rows["quillberry-cli extract"], rows["rg -o"], rows["LC_ALL=C grep -oE"]
def verdict(ok):
    return "met" if ok else "NOT met"
print(f"extract vs ripgrep: {rg[0] / ex[0]:.2f}x ripgrep's speed  (target >= 1: {verdict(ex[0] <= rg[0])})")
print(f"extract vs grep:    {gr[0] / ex[0]:.2f}x grep's speed     (target >= 2: {verdict(gr[0] >= 2 * ex[0])})")
ratio = ex[1] * 1024 / nbytes
print(f"extract peak memory: {ratio:.2f}x the page          (target <= 0.6: {verdict(ratio <= 0.6)})")
PY
if [ -n "$base_cli" ]; then
  echo "base build's extract: $(( $(median "$tmp/base.runs" 1) / 1000000 )) ms, cpu $(median "$tmp/base.runs" 3) ms," \
    "peak $(( $(median "$tmp/base.runs" 2) / 1024 )) MiB"
  if cmp -s "$mem/extract.out" "$mem/base.out"; then
    echo "output: the same bytes as the base build's ($(wc -l <"$mem/base.out") lines)"
  else
    echo "output: DIFFERS from the base build's"
    differs=1
  fi
fi
}

if [ -n "${PAGE:-}" ]; then
  measure "$PAGE"
else
  for sparse in $sparse_list; do
    echo "== page with 1/$sparse of the proxies per MiB"
    /usr/bin/python3 "$here/make_mixed_page.py" "$tmp/mixed.html" "$size_mb" "$sparse"
    measure "$tmp/mixed.html"
    echo
  done
fi
exit "$differs"
