#!/usr/bin/env python3
"""Makes an RTF resource of the setup program from an RTF document.

The program's rich-text resources are 7-bit ASCII RTF 1 text ending in one
zero byte, which counts in the resource's size. This checks the document and
writes it with that byte.

    usage: rtf-resource.py INPUT.rtf OUTPUT
"""
import os
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, output = sys.argv[1], sys.argv[2]
    with open(source, "rb") as f:
        data = f.read()
    if not data.startswith(b"{\\rtf1"):
        sys.exit(f"{source}: not an RTF 1 document")
    bad = next((i for i, b in enumerate(data) if b > 0x7E or (b < 0x20 and b not in (9, 10, 13))), None)
    if bad is not None:
        sys.exit(f"{source}: byte {bad} is not 7-bit ASCII text (0x{data[bad]:02x}); use RTF escapes")
    if data.count(b"{") != data.count(b"}"):
        sys.exit(f"{source}: unbalanced braces")
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "wb") as f:
        f.write(data.rstrip(b"\r\n") + b"\0")


if __name__ == "__main__":
    main()
