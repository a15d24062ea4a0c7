#!/usr/bin/env python3
"""Sets the translation of one source text in a catalogue (translations/*.ts), for the
texts added by hand between runs of Qt Linguist; run lupdate again after it, which
writes the catalogue back in its own layout:

    scripts/translate-entry.py translations/quillberry_en.ts "源文本" "Translation"
"""
import sys
import xml.etree.ElementTree as ET

path, source, translation = sys.argv[1:4]
tree = ET.parse(path)
done = False
for message in tree.getroot().iter("message"):
    if message.find("source").text == source:
        t = message.find("translation")
        t.text = translation
        t.attrib.pop("type", None)
        done = True
if not done:
    sys.exit(f"{path}: no entry {source!r} (run lupdate first)")
tree.write(path, encoding="utf-8", xml_declaration=True)
