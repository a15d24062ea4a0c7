#!/usr/bin/env bash
# Builds the core, the command line and every test with clang under AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer (build-asan) and runs the whole test
# suite there; then the tests of the code that runs on several threads under
# ThreadSanitizer (build-tsan). Any report fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"

# The sanitizers' options (halt on the first report, the leak suppressions) come with
# the tests' launcher, set in tests/CMakeLists.txt.

# -O1 keeps the stacks readable and the run fast; the fuzz targets are built in the
# same directory (scripts/fuzz.sh), so the core is compiled once for both.
cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DQUILLBERRY_SANITIZE=address,undefined \
  -DQUILLBERRY_FUZZ=ON -DQUILLBERRY_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

# ThreadSanitizer builds only the core and test_threads (see tests/CMakeLists.txt).
cmake -S . -B build-tsan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DQUILLBERRY_SANITIZE=thread -DQUILLBERRY_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_threads
ctest --test-dir build-tsan --output-on-failure -j "$jobs"
