#!/usr/bin/env bash
# Fails when the English catalogue lags behind the sources: a text marked for
# translation that it lacks, a translation left unfinished or empty, an entry whose
# text is gone, or a translation whose placeholders (%1, %d, %s, %.1f) differ from its
# source's, which would print the wrong value or read past the arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate="$(command -v lupdate || true)"
[ -n "$lupdate" ] || lupdate=/usr/lib/qt6/bin/lupdate
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp translations/quillberry_en.ts "$work/en.ts"
"$lupdate" -silent -recursive src -extensions cpp,h -ts "$work/en.ts" -source-language zh_CN \
  -target-language en -no-obsolete -locations none >/dev/null 2>&1
/usr/bin/python3 - "$work/en.ts" translations/quillberry_en.ts <<'PY'
import re, sys
import xml.etree.ElementTree as ET

def messages(path):
    out = {}
    for m in ET.parse(path).getroot().iter("message"):
        t = m.find("translation")
        out[m.find("source").text] = (t.text or "", t.get("type"))
    return out

fresh, kept = messages(sys.argv[1]), messages(sys.argv[2])
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
    print("translations:", f, file=sys.stderr)
if faults:
    print("translations: update with lupdate (see README) and translate", file=sys.stderr)
    sys.exit(1)
print(f"translations: {len(kept)} texts, every one translated")
PY
