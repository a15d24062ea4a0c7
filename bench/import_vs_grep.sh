#!/usr/bin/env bash
# Import of a large proxy-list web page, end to end (read, extract line by line, add to
# the list in one bulk append, save the list), measured side by side with grep pulling
# the same address:port pairs out of the same file. "cpu" is the calling thread's time
# only; the import's reading and parsing runs on one thread per processor.
#
#   bench/import_vs_grep.sh [BUILD_DIR]      (default: build)
#   SIZE_MB=100 RUNS=3 bench/import_vs_grep.sh build-release
#
# MB here is 2^20 bytes. Each figure is the median of RUNS runs on a warm page cache.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/lib/compare.sh
. "$here/lib/compare.sh"
build=${1:-$here/../build}
bench=$build/bench/bench_import
size_mb=${SIZE_MB:-100}
runs=${RUNS:-3}
py=/usr/bin/python3

if [ ! -x "$bench" ]; then
  echo "no $bench: build the target bench_import first (ninja -C $build bench_import)" >&2
  exit 2
fi

# grep's matches go to memory when it can, so that their write-back to disk does not
# fall into the import's own save.
make_scratch_dirs
page=$tmp/proxies.html

"$bench" --generate="$page" --size-mb="$size_mb"
bytes=$(stat -c %s "$page")
cat "$page" >/dev/null  # into the page cache, for both sides alike

pattern=$address_port_pattern

# Median wall time in seconds of a command, run $runs times with its output to OUT.
# GNU grep stops at the first match when its output is /dev/null (it then only has to
# answer whether there is one), so the real comparison writes the matches to a file.
median_seconds() {
  local out=$1
  shift
  local times=()
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >"$out"
    t1=$(date +%s%N)
    times+=("$(( t1 - t0 ))")
  done
  printf '%s\n' "${times[@]}" | median_of_lines | awk '{ printf "%.6f\n", $1 / 1e9 }'
}

echo "page: $bytes bytes ($(( bytes >> 20 )) MB), $(grep -c '<tr><td>' "$page") proxy rows"
echo "machine: $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

"$bench" --input="$page" --benchmark_filter='BM_(ImportFile|ImportFileNoSave|ImportLineByLine|ReadAndExtract|AddOnly|SaveAfterImport)/' \
  --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
  --benchmark_out="$tmp/bench.json" --benchmark_out_format=json >"$tmp/bench.txt" 2>&1

# The import as a user's first one: a fresh process whose list memory is new, run in
# turn with grep so that both meet the same moments of a shared machine.
mkdir -p "$tmp/data"
fresh_times=()
grep_times=()
for _ in $(seq "$runs"); do
  # An empty directory each time: a list file left by the run before is one the fresh
  # process never read, and its save would take that file's rows in first.
  rm -f "$tmp/data/Proxies.pro"
  fresh_times+=("$("$bench" --input="$page" --once-into="$tmp/data/" | cut -d' ' -f1)")
  t0=$(date +%s%N)
  LC_ALL=C grep -oE "$pattern" "$page" >"$mem/matches"
  t1=$(date +%s%N)
  grep_times+=("$(( t1 - t0 ))")
done
fresh=$(printf '%s\n' "${fresh_times[@]}" | median_of_lines | awk '{ printf "%.6f\n", $1 / 1e3 }')
grep_c=$(printf '%s\n' "${grep_times[@]}" | median_of_lines | awk '{ printf "%.6f\n", $1 / 1e9 }')
grep_matches=$(wc -l <"$mem/matches")
default_locale=$(locale 2>/dev/null | sed -n 's/^LC_CTYPE="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p')
grep_default=$(median_seconds "$mem/matches" grep -oE "$pattern" "$page")
grep_devnull=$(median_seconds /dev/null env LC_ALL=C grep -oE "$pattern" "$page")

"$py" - "$tmp/bench.json" "$bytes" "$grep_c" "$grep_default" "${default_locale:-unknown}" "$grep_matches" \
  "$grep_devnull" "$fresh" "${fresh_times[*]}" <<'EOF'
import json, sys

path, nbytes, grep_c, grep_default, locale, matches, grep_devnull, fresh, fresh_all = sys.argv[1:]
fresh = float(fresh)
nbytes = int(nbytes)
mb = nbytes / 2**20
runs = {}
for b in json.load(open(path))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        name = b["run_name"].removesuffix("/real_time")
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        runs[name] = (b["real_time"] * scale, b["cpu_time"] * scale, b)

def line(label, seconds, cpu=None):
    extra = f"  (cpu {cpu * 1000:7.1f} ms)" if cpu is not None else ""
    print(f"{label:<44} {seconds * 1000:8.1f} ms  {mb / seconds:8.1f} MB/s{extra}")

imp = runs["BM_ImportFile"]
line("import end to end, fresh process (median)", fresh)
print(f"  {'each fresh run, ms: ' + fresh_all:<44}")
line("import end to end, repeated in one process", imp[0])
line("  the same without saving Proxies.pro", runs["BM_ImportFileNoSave/0"][0])
line("  ... on one thread", runs["BM_ImportFileNoSave/1"][0])
line("  the save of Proxies.pro alone", runs["BM_SaveAfterImport"][0])
line("line by line: ExtractFile -> AddProxyLine", runs["BM_ImportLineByLine"][0])
line("  read in blocks + extract, no add", runs["BM_ReadAndExtract"][0])
line("  add only (AddProxyLine in a bulk append)", runs["BM_AddOnly"][0])
line("grep -oE, LC_ALL=C", float(grep_c))
line(f"grep -oE, default locale ({locale})", float(grep_default))
line("grep -oE > /dev/null (stops at 1st match)", float(grep_devnull))
print(f"load average after: {open('/proc/loadavg').read().split()[0:3]}")
print()
print(f"proxies added: {int(imp[2].get('rows', 0))}, grep matches: {matches}")
print(f"import (fresh) vs grep (LC_ALL=C):        {float(grep_c) / fresh:.2f}x grep's speed")
print(f"import (fresh) vs grep (default locale):  {float(grep_default) / fresh:.2f}x grep's speed")
target = 300.0
for label, seconds in (("fresh process", fresh), ("repeated", imp[0])):
    verdict = "met" if mb / seconds >= target else "NOT met"
    print(f"target {target:.0f} MB/s end to end, {label}: {verdict} ({mb / seconds:.1f} MB/s)")
EOF
