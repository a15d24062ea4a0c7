#!/usr/bin/env bash
# Installs what is needed, builds Quillberry and starts it. Without a graphical
# session it runs the program's main job on the command line instead: the proxies of
# the sample proxy-list page shipped with it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quillberry quillberry-cli
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/quillberry "$@"
fi
echo "No graphical session: showing the proxies of res/sample/proxylist.html instead." >&2
exec ./build/quillberry-cli extract --fuzzy res/sample/proxylist.html
