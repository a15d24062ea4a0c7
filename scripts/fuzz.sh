#!/usr/bin/env bash
# Replays the seed corpus of every fuzz target, then fuzzes each for a fixed number of
# inputs from a fixed seed (FUZZ_SEED, 1 by default), so that the test command tries
# the same inputs on every machine and its result does not depend on luck or speed.
# FUZZ_SECONDS (60 by default) caps each target's time; a slow machine then tries a
# prefix of the same inputs. FUZZ_SEED=0 draws a new seed and fuzzes each target for
# FUZZ_SECONDS, for runs by hand that are to go where the fixed ones do not.
# The targets are built in build-asan, with the sanitizers of scripts/sanitize.sh,
# which builds them first when run by test.sh.
#
# An input that crashes a target, or breaks one of its properties, is copied into
# tests/fuzz/corpus/<target>/ as a regression case and the run fails: mend the fault,
# and commit the input with the fix, so that every later replay checks it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
seed="${FUZZ_SEED:-1}"
# About fifteen seconds of each target on a two-core machine: the targets that write
# and read back a file per input are slower by two orders of magnitude than the parsers.
declare -A inputs=([extract]=8000 [extract_fuzzy]=6000 [ip_location]=150000
  [legacy_text]=500000 [list_file]=6000 [page_lines]=50000 [parse_line]=1000000
  [settings]=4000 [sources]=10000 [geo_location]=12000 [extract_tables]=200000
  [pasted_parts]=40000)
# Qt's hashes are seeded at random per process; fixed, the coverage that guides the
# fuzzer is the same from run to run.
export QT_HASH_SEED=0
jobs="$(nproc)"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitize/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

if [ ! -f build-asan/build.ninja ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DQUILLBERRY_SANITIZE=address,undefined \
    -DQUILLBERRY_FUZZ=ON -DQUILLBERRY_BENCH=OFF >/dev/null
fi
cmake --build build-asan -j "$jobs" --target fuzz_targets

# The targets write and read back a file for every input; in memory that costs no
# disk flushes. Their scratch directories go under the run's own directory, so that
# one left by a target that crashed goes with it.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work="$(mktemp -d -p /dev/shm)"
else
  work="$(mktemp -d)"
fi
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp"
export TMPDIR="$work/tmp"
failed=()
for src in tests/fuzz/[a-z]*.cpp; do
  name="$(basename "$src" .cpp)"
  target="build-asan/tests/fuzz/fuzz_$name"
  corpus="tests/fuzz/corpus/$name"
  mkdir -p "$corpus" "$work/$name/new" "$work/$name/crash"
  log="$work/$name/log"
  start=$SECONDS
  runs_wanted="${inputs[$name]:-10000}"
  [ "$seed" = 0 ] && runs_wanted=-1
  # Replay first: every seed and every earlier crash must pass as it stands.
  status=ok
  if ! "$target" -runs=0 "$corpus" >"$log" 2>&1; then
    status=replay
  elif ! "$target" -seed="$seed" -runs="$runs_wanted" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$work/$name/crash/" "$work/$name/new" "$corpus" >>"$log" 2>&1; then
    status=fuzz
  fi
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)"
  if [ "$status" = ok ]; then
    echo "fuzz $name: ok, $(ls "$corpus" | wc -l) seeds replayed, ${runs:-0} inputs in $((SECONDS - start)) s"
    continue
  fi
  failed+=("$name")
  echo "fuzz $name: FAILED ($status)" >&2
  tail -n 60 "$log" >&2
  for crash in "$work/$name/crash"/*; do
    [ -e "$crash" ] || continue
    dest="$corpus/regression-$(sha1sum "$crash" | cut -c1-16)"
    cp "$crash" "$dest"
    echo "fuzz $name: the failing input is kept as $dest; commit it with the fix" >&2
  done
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
