#!/usr/bin/env bash
# Fails when a catalogue lags behind the sources: a text marked for translation that
# it lacks, an entry whose text is gone, a translation left unfinished or empty, or a
# translation whose placeholders (%1, %d, %s, %.1f) differ from its source's, which
# would print the wrong value or read past the arguments.
#
# translations/quillberry_en.ts translates the interface's texts (context
# "Quillberry", Chinese sources); translations/quillberry_zh.ts the help texts of the
# executables (context "QuillberryHelp", English sources). Each holds the other's
# entries too, unfinished, as lupdate writes them.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate="$(command -v lupdate || true)"
[ -n "$lupdate" ] || lupdate=/usr/lib/qt6/bin/lupdate
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
check() {  # catalogue, source language, target language, the context it translates
  cp "$1" "$work/fresh.ts"
  "$lupdate" -silent -recursive src -extensions cpp,h -ts "$work/fresh.ts" -source-language "$2" \
    -target-language "$3" -no-obsolete -locations none >/dev/null 2>&1
  /usr/bin/python3 - "$work/fresh.ts" "$1" "$4" <<'PY'
import re, sys
import xml.etree.ElementTree as ET

def messages(path, context):
    out = {}
    for c in ET.parse(path).getroot().iter("context"):
        if c.find("name").text != context:
            continue
        for m in c.iter("message"):
            t = m.find("translation")
            out[m.find("source").text] = (t.text or "", t.get("type"))
    return out

fresh_path, kept_path, context = sys.argv[1:4]
fresh, kept = messages(fresh_path, context), messages(kept_path, context)
placeholder = re.compile(r"%(?:\d|[-+ #0]*\d*(?:\.\d+)?[dsfxu%])")
faults = []
for source in sorted(set(fresh) - set(kept)):
    faults.append(f"not in the catalogue: {source!r}")
for source in sorted(set(kept) - set(fresh)):
    faults.append(f"no longer in the sources: {source!r}")
for source, (text, kind) in sorted(kept.items()):
    if kind in ("unfinished", "vanished", "obsolete") or not text:
        faults.append(f"no finished translation: {source!r}")
    elif sorted(placeholder.findall(source)) != sorted(placeholder.findall(text)):
        faults.append(f"placeholders differ: {source!r} -> {text!r}")
for f in faults:
    print(f"translations: {kept_path}: {f}", file=sys.stderr)
if faults:
    print("translations: update with lupdate (see docs/developer-guide.md) and translate", file=sys.stderr)
    sys.exit(1)
print(f"translations: {kept_path}: {len(kept)} texts of {context}, every one translated")
PY
}
check translations/quillberry_en.ts zh_CN en Quillberry
check translations/quillberry_zh.ts en zh_CN QuillberryHelp
