#!/usr/bin/env bash
# Fails, naming the lines, when a C++ file of the tree differs from what the project's
# .clang-format makes of it. Fix with:
#   find src tests bench tools \( -name '*.cpp' -o -name '*.h' \) | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
find src tests bench tools \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
  xargs -0 clang-format --dry-run --Werror
echo "format: every C++ file follows .clang-format"
