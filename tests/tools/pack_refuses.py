#!/usr/bin/env python3
"""The packer refuses, at packing time, every manifest whose package the
installer would refuse or misread: each bad manifest must make pack.py fail
with its reason, and a good one must pack.
    usage: pack_refuses.py PACK_PY"""
import os
import subprocess
import sys
import tempfile

pack = sys.argv[1]
failures = 0


def run(manifest_text, work):
    manifest = os.path.join(work, "package.manifest")
    with open(os.path.join(work, "a.txt"), "w") as f:
        f.write("a\n")
    with open(manifest, "w", encoding="utf-8") as f:
        f.write(manifest_text)
    return subprocess.run([sys.executable, pack, manifest, os.path.join(work, "out.bin")],
                          capture_output=True, text=True)


CASES = [
    ("..\\a.txt file:a.txt\n", "unsafe name '..\\a.txt'"),
    ("sub\\..\\..\\a.txt file:a.txt\n", "'..' component"),
    ("C:\\a.txt file:a.txt\n", "an absolute name"),
    ("\\a.txt file:a.txt\n", "an absolute name"),
    ("a.txt:stream file:a.txt\n", "a drive or a stream"),
    ("COM1 file:a.txt\n", "the device name 'COM1'"),
    ("sub\\nul.txt file:a.txt\n", "the device name 'nul.txt'"),
    ("a\\\\b file:a.txt\n", "an empty"),
    ("x" * 221 + " file:a.txt\n", "over the path limit"),
    ("a.txt file:a.txt selector=0\n", "selector must be 1, 2 or 3, not 0"),
    ("a.txt file:a.txt selector=4\n", "selector must be 1, 2 or 3, not 4"),
    ("a.txt file:a.txt\nA.TXT file:a.txt\n", "already in the package for the same platform"),
    ("a.txt file:a.txt selector=1\nsub/../a.txt file:a.txt\n", "'..' component"),
    ("a.txt file:a.txt selector=3\na.txt file:a.txt selector=2\n", "already in the package for the same platform"),
]
GOOD = "a.txt file:a.txt selector=1\na.txt file:a.txt selector=2\n" + "x" * 220 + " file:a.txt\nCOM10 file:a.txt\n"

for text, expected in CASES:
    with tempfile.TemporaryDirectory() as work:
        r = run(text, work)
        if r.returncode == 0 or expected not in r.stderr + r.stdout:
            failures += 1
            print(f"FAIL: {text.strip()!r}: exit {r.returncode}, said {r.stderr.strip()!r}, expected {expected!r}")
with tempfile.TemporaryDirectory() as work:
    r = run(GOOD, work)
    if r.returncode != 0:
        failures += 1
        print(f"FAIL: the good manifest was refused: {r.stderr.strip()}")
print(f"{len(CASES) + 1 - failures} of {len(CASES) + 1} passed")
sys.exit(1 if failures else 0)
