#!/usr/bin/env bash
# Installs what is needed, builds Quillberry and runs its main job on the sample
# proxy-list page shipped with it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quillberry quillberry-cli
exec ./build/quillberry-cli extract --fuzzy res/sample/proxylist.html "$@"
