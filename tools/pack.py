#!/usr/bin/env python3
"""Makes the package resource of the setup program from a manifest.

The output is an LZMA stream in the "alone" layout: the properties byte 0x5d
(lc 3, lp 0, pb 2), a 32 MiB dictionary size and the real uncompressed size,
all little-endian, then the raw LZMA data. The uncompressed bytes are the
package stream: one message a file name, mark and platform selector, then the
file's data, each framed as a type byte and a big-endian 32-bit length.

    usage: pack.py MANIFEST OUTPUT --programs DIR [--programs64 DIR]
           pack.py --from-dir DIR --size BYTES OUTPUT   (a benchmark package)
"""
import argparse
import lzma
import os
import struct
import sys

TYPE_NAME, TYPE_MARK1, TYPE_MARK2, TYPE_MARK4, TYPE_SELECTOR, TYPE_DATA = 1, 2, 3, 4, 5, 101
MARK_TYPES = {"1": TYPE_MARK1, "2": TYPE_MARK2, "4": TYPE_MARK4}
DICTIONARY = 32 * 1024 * 1024
TERMINFO_DIRS = ["/lib/terminfo", "/usr/share/terminfo"]


def message(kind, body=b""):
    return struct.pack(">BI", kind, len(body)) + body


def terminfo(entry):
    for base in TERMINFO_DIRS:
        path = os.path.join(base, entry[0], entry)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                return f.read()
    sys.exit(f"pack.py: terminal description '{entry}' not found in {TERMINFO_DIRS}")


def read_manifest(path):
    entries = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = line.split()
            if len(fields) < 2:
                sys.exit(f"{path}:{number}: a name and a source are needed")
            name, source, options = fields[0], fields[1], {}
            for option in fields[2:]:
                key, _, value = option.partition("=")
                options[key] = value
            if source.startswith("file:") and not os.path.isabs(source[5:]):
                source = "file:" + os.path.join(os.path.dirname(os.path.abspath(path)), source[5:])
            entries.append((name, source, options, f"{path}:{number}"))
    return entries


DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {f"{p}{n}" for p in ("COM", "LPT") for n in range(1, 10)}
# The longest folder a default installation has (32-bit Windows' x86 folder),
# and room for the path's end: a name must fit in 260 characters with it.
LONGEST_DEFAULT_DIR = len("C:\\Program Files (x86)\\Korvane Quendal\\")
MAX_NAME = 259 - LONGEST_DEFAULT_DIR


def unsafe_name(name):
    """Why the installer would refuse this name, or None."""
    if not name:
        return "an empty name"
    if name[0] in "\\/" or ":" in name:
        return "an absolute name, a drive or a stream"
    if any(ord(c) < 32 for c in name):
        return "a control character"
    for part in name.replace("/", "\\").split("\\"):
        if part in ("", ".", ".."):
            return "an empty, '.' or '..' component"
        if part.split(".")[0].rstrip(" ").upper() in DEVICES:
            return f"the device name '{part}'"
    if len(name) > MAX_NAME:
        return f"longer than {MAX_NAME} characters, over the path limit in the default folder"
    return None


def check_entries(entries):
    """Refuses at packing time what the installer would refuse at installing
    time, and what would make two files compete for one path."""
    seen = {}
    for name, _source, options, where in entries:
        reason = unsafe_name(name)
        if reason:
            sys.exit(f"{where}: unsafe name '{name}': {reason}")
        selector = int(options.get("selector", "3"))
        if selector not in (1, 2, 3):
            sys.exit(f"{where}: selector must be 1, 2 or 3, not {selector}")
        key = name.replace("/", "\\").upper()
        if key in seen and seen[key][0] & selector:
            sys.exit(f"{where}: '{name}' is already in the package for the same platform ({seen[key][1]})")
        seen[key] = (seen.get(key, (0, where))[0] | selector, where)


def build_stream(entries, programs=None, programs64=None):
    stream = bytearray()
    for name, source, options, where in entries:
        if source in ("program", "program64"):
            folder = programs if source == "program" else programs64
            if not folder:
                sys.exit(f"{where}: {source} needs --{source.replace('program', 'programs')}")
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
        elif source.startswith("terminfo:"):
            data = terminfo(source[len("terminfo:"):])
        elif source.startswith("file:"):
            with open(source[len("file:"):], "rb") as f:
                data = f.read()
        else:
            sys.exit(f"{where}: unknown source '{source}'")
        if "crlf" in options:
            data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        stream += message(TYPE_NAME, name.encode("utf-8"))
        if "mark" in options:
            if options["mark"] not in MARK_TYPES:
                sys.exit(f"{where}: mark must be 1, 2 or 4")
            stream += message(MARK_TYPES[options["mark"]])
        if "selector" in options:
            stream += message(TYPE_SELECTOR, bytes([int(options["selector"])]))
        stream += message(TYPE_DATA, data)
    return bytes(stream)


def compress(stream):
    filters = [{"id": lzma.FILTER_LZMA1, "dict_size": DICTIONARY, "lc": 3, "lp": 0, "pb": 2,
                "preset": 9}]
    body = lzma.compress(stream, format=lzma.FORMAT_RAW, filters=filters)
    properties = (2 * 5 + 0) * 9 + 3
    return struct.pack("<BIQ", properties, DICTIONARY, len(stream)) + body


def entries_from_dir(directory, size):
    """Files of a folder, by name, until `size` bytes are reached: real binary
    content for measuring the writer."""
    entries, total = [], 0
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        if not os.path.isfile(path) or total + os.path.getsize(path) > size:
            continue
        entries.append((name, "file:" + path, {}, path))
        total += os.path.getsize(path)
    if total < size * 0.99:
        sys.exit(f"pack.py: {directory} holds only {total} bytes, {size} asked")
    return entries


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest", nargs="?")
    parser.add_argument("output")
    parser.add_argument("--from-dir")
    parser.add_argument("--size", type=int, default=26 * 1000 * 1000)
    parser.add_argument("--programs", help="the folder of the built package programs")
    parser.add_argument("--programs64", help="the same folder of the x86-64 build")
    args = parser.parse_args()
    if args.from_dir:
        entries = entries_from_dir(args.from_dir, args.size)
    elif args.manifest:
        entries = read_manifest(args.manifest)
    else:
        parser.error("a manifest or --from-dir is needed")
    check_entries(entries)
    stream = build_stream(entries, args.programs, args.programs64)
    packed = compress(stream)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "wb") as f:
        f.write(packed)
    print(f"package: {len(entries)} files, {len(stream)} bytes, {len(packed)} packed")


if __name__ == "__main__":
    main()
