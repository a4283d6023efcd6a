#!/usr/bin/env python3
"""The documents' own rules: the README at most 15 KB; no path of one machine
nor outside the repository in any document; every link to a section of a
document names a heading that is there.
usage: docs_check.py SOURCE_DIR"""
import os
import re
import sys

root = sys.argv[1]
docs = ["README.md", "CONTRIBUTING.md", "examples/README.md", "bench/README.md"]
docs += ["docs/" + f for f in sorted(os.listdir(os.path.join(root, "docs"))) if f.endswith(".md")]
docs = [d for d in docs if os.path.exists(os.path.join(root, d))]
text = {d: open(os.path.join(root, d), encoding="utf-8").read() for d in docs}


def slug(heading):  # the anchor a heading gets on the usual hosting sites
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def anchors(t):
    return {slug(h) for h in re.findall(r"^#+ (.*)$", re.sub(r"```.*?```", "", t, flags=re.S), re.M)}


bad = []
size = len(text["README.md"].encode())
if size > 15 * 1024:
    bad.append(f"README.md: {size} bytes, more than 15 KB: move detail to docs/")
for d, t in text.items():
    for m in re.finditer(r"(?<![\w.])(/work/|/home/|/root/|\.\./shared)", t):
        bad.append(f"{d}:{t.count(chr(10), 0, m.start()) + 1}: a path of one machine or outside the repository")
    for m in re.finditer(r"\]\(([^)\s#]*)#([^)\s]+)\)", t):
        target = os.path.normpath(os.path.join(os.path.dirname(d), m.group(1))) if m.group(1) else d
        if target in text and m.group(2) not in anchors(text[target]):
            bad.append(f"{d}: link to '{m.group(1)}#{m.group(2)}': no such heading")
for b in bad:
    print(b)
sys.exit(1 if bad else 0)
