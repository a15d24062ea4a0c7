#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The tree follows .clang-format; drift fails the run before anything is built.
bash scripts/check-format.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
# Each test executable starts its own loopback peers on free ports; nothing outside
# 127.0.0.0/8 is ever contacted.
ctest --test-dir build --output-on-failure -j "$(nproc)"
# The Debian package: built from the tree above, validated, unpacked and run.
bash scripts/package-check.sh build
# The same tests again under the sanitizers, where any report fails them, then the
# fuzz targets over their seed corpus and for a bounded time each. Plain failures
# above are seen first; on two cores these add about 16 minutes (README).
bash scripts/sanitize.sh
bash scripts/fuzz.sh
