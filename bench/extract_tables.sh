#!/usr/bin/env bash
# `quillberry-cli extract --fuzzy` on a page of proxy tables in GBK
# (bench/make_table_page.py: tables of seven layouts, each after a paragraph that ends
# in a number-like decoy), with the rows the page holds counted as found (its address
# and port printed), found with their type, missed, and false (printed, not a row of
# the page). Given a second build directory, the same for that build, run in turn with
# the first so that both meet the same moments of a shared machine. Wall time and peak
# memory (GNU time's %M) are medians of RUNS runs.
#
#   bench/extract_tables.sh [BUILD_DIR [BASE_BUILD_DIR]]      (default: build)
#   TABLES=20000 RUNS=3 bench/extract_tables.sh build ../base/build
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/lib/compare.sh
. "$here/lib/compare.sh"
builds=("${1:-$here/../build}")
[ -n "${2:-}" ] && builds+=("$2")
tables=${TABLES:-20000}
runs=${RUNS:-3}
timer=/usr/bin/time
for b in "${builds[@]}"; do
  [ -x "$b/quillberry-cli" ] || { echo "no $b/quillberry-cli: build the target quillberry-cli first" >&2; exit 2; }
done
[ -x "$timer" ] || { echo "no $timer: install GNU time (scripts/install-deps.sh)" >&2; exit 2; }

make_scratch_dirs
page=$tmp/tables.html
/usr/bin/python3 "$here/make_table_page.py" "$page" "$tmp/truth" "$tables"
cat "$page" >/dev/null  # into the page cache, for every build alike

echo "page: $(stat -c %s "$page") bytes, $tables tables, $(wc -l <"$tmp/truth") rows"
echo "machine: $(nproc) cores; before: $(uptime)"
for _ in $(seq "$runs"); do
  for k in "${!builds[@]}"; do
    t0=$(date +%s%N)
    "$timer" -f '%M' -o "$tmp/$k.mem" "${builds[$k]}/quillberry-cli" extract --fuzzy "$page" >"$mem/$k.out" \
      2>/dev/null
    t1=$(date +%s%N)
    echo "$(( t1 - t0 )) $(tail -n 1 "$tmp/$k.mem")" >>"$tmp/$k.runs"
  done
done
echo "after:  $(uptime)"
echo

for k in "${!builds[@]}"; do
  ms=$(awk '{ print int($1 / 1e6) }' "$tmp/$k.runs" | median_of_lines)
  kib=$(awk '{ print $2 }' "$tmp/$k.runs" | median_of_lines)
  /usr/bin/python3 - "${builds[$k]}" "$tmp/truth" "$mem/$k.out" "$ms" "$kib" \
    "$(awk '{ printf "%d ", $1 / 1e6 }' "$tmp/$k.runs")" <<'PY'
import sys

build, truth_path, out_path, ms, kib, each = sys.argv[1:7]
truth = {}
layout_of = {}
for line in open(truth_path):
    line = line.strip()
    if line:
        row, layout = line.split("\t")
        where, typ = row.split("@")
        truth[where] = typ
        layout_of[where] = layout
printed = {}
for line in open(out_path, encoding="utf-8", errors="replace"):
    where, _, rest = line.strip().partition("@")
    printed.setdefault(where, rest.split("$")[0])
found = sum(1 for w in truth if w in printed)
typed = sum(1 for w, t in truth.items() if printed.get(w) == t)
false = sum(1 for w in printed if w not in truth)
n = len(truth)
print(f"{build}:")
print(f"  found {found} of {n} ({100 * found / n:.1f} %), with their type {typed} ({100 * typed / n:.1f} %),"
      f" missed {n - found}, false {false}")
print(f"  {int(ms)} ms (runs: {each.strip()}), peak {int(kib) / 1024:.1f} MiB")
for layout in dict.fromkeys(layout_of.values()):
    rows = [w for w, l in layout_of.items() if l == layout]
    got = sum(1 for w in rows if w in printed)
    right = sum(1 for w in rows if printed.get(w) == truth[w])
    print(f"    {layout:<20} found {got} of {len(rows)}, with their type {right}, missed {len(rows) - got}")
PY
done
