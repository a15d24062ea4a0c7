#!/usr/bin/env bash
# Fails when the code leaves its layers: a file that includes a folder its layer may
# not use (a lower layer reaching up, or two layers in a cycle), or a source file of
# a folder that its CMakeLists.txt does not name (a file the build would silently
# leave out, or a listed one that is gone).
#
# The layers, each with the folders it may include besides its own. The command line
# may take the window's words (ui/Messages.h, texts only) but nothing else of the
# windows.
set -euo pipefail
cd "$(dirname "$0")/.."
/usr/bin/python3 - <<'PY'
import os, re, sys

allowed = {
    "base": set(),
    "proxy": {"base"},
    "history": {"base", "proxy"},
    "settings": {"base", "proxy", "history"},
    "sources": {"base", "proxy"},
    "datadir": {"base", "proxy", "history", "settings", "sources"},
    "sysproxy": {"base", "proxy", "settings", "datadir"},
    "verify": {"base", "proxy", "history", "settings", "datadir"},
    "endpoint": {"base", "proxy", "settings"},
    "ui": {"base", "proxy", "history", "settings", "sources", "datadir", "sysproxy", "verify", "endpoint"},
    "app": {"base", "proxy", "history", "settings", "sources", "datadir", "sysproxy", "verify", "endpoint", "ui"},
    "cli": {"base", "proxy", "history", "settings", "sources", "datadir", "sysproxy", "verify", "endpoint"},
}
# Single headers a layer may use from a folder it otherwise may not.
allowed_files = {"cli": {"ui/Messages.h"}}

include = re.compile(r'^\s*#\s*include\s+"([a-z]+)/([^"]+)"', re.M)
faults = []
for layer in sorted(allowed):
    folder = os.path.join("src", layer)
    names = sorted(n for n in os.listdir(folder) if n.endswith((".cpp", ".h")))
    for name in names:
        text = open(os.path.join(folder, name), encoding="utf-8").read()
        for m in include.finditer(text):
            target, header = m.group(1), m.group(2)
            if target == layer or target in allowed[layer]:
                continue
            if f"{target}/{header}" in allowed_files.get(layer, set()):
                continue
            faults.append(f"{folder}/{name}: includes {target}/{header}, above its layer ({layer})")
    lists = os.path.join(folder, "CMakeLists.txt")
    listed = set(re.findall(r"^\s+([A-Za-z0-9_]+\.(?:cpp|h))\)?\s*$", open(lists).read(), re.M))
    listed |= set(re.findall(r"add_executable\(\w+ ([A-Za-z0-9_]+\.cpp)\)", open(lists).read()))
    for name in names:
        if name not in listed:
            faults.append(f"{folder}/{name}: not named in {lists}")
    for name in sorted(listed - set(names)):
        faults.append(f"{lists}: names {name}, which is not there")
for fault in faults:
    print("layers:", fault)
if faults:
    sys.exit(1)
print("layers: every file stays in its layer and is named in its folder's list")
PY
