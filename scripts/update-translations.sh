#!/usr/bin/env bash
# Brings both catalogues up to the sources: the Chinese interface texts into English,
# the English help texts into Chinese. New texts come in unfinished; give each its
# translation with scripts/translate-entry.py, then run this again.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=/usr/lib/qt6/bin/lupdate
"$lupdate" -silent -recursive src -extensions cpp,h -ts translations/quillberry_en.ts \
  -source-language zh_CN -target-language en -no-obsolete -locations none
"$lupdate" -silent -recursive src -extensions cpp,h -ts translations/quillberry_zh.ts \
  -source-language en -target-language zh_CN -no-obsolete -locations none
