#!/usr/bin/env python3
"""Writes a release's winget manifest, the three files that docs/deployment.md
shows (each named in backticks on the line before its block), with the
installer's SHA-256 in place of the page's placeholder.
    usage: winget-manifests.py DEPLOYMENT_DOC INSTALLER OUTDIR"""
import hashlib
import os
import re
import sys

PLACEHOLDER = "<SHA-256 of QuendalInstaller.exe>"


def manifests(doc_text):
    """(file name, text) of each YAML block that is a winget manifest file."""
    found = []
    for m in re.finditer(r"\n`([^`\n]+\.yaml)`:\n\n```yaml\n(.*?)\n```", doc_text, re.S):
        found.append((m.group(1), m.group(2) + "\n"))
    return found


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest().upper()


def main():
    doc, installer, outdir = sys.argv[1:4]
    with open(doc, encoding="utf-8") as f:
        files = manifests(f.read())
    if len(files) != 3:
        sys.exit(f"winget-manifests.py: {doc} shows {len(files)} manifest files, not 3")
    os.makedirs(outdir, exist_ok=True)
    digest = sha256(installer)
    for name, text in files:
        with open(os.path.join(outdir, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text.replace(PLACEHOLDER, digest))
        print(os.path.join(outdir, name))


if __name__ == "__main__":
    main()
