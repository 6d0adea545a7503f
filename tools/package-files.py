#!/usr/bin/env python3
"""Takes the package out of a built or released installer: reads its package
resource (type BINARY, id 130), or takes a package resource file as the
packer made it, decodes it and writes each file under the
output folder, in a subfolder for its platform: both/, x86/ (selector 1) or
x64/ (selector 2). Prints one line per file: platform, name, SHA-256.

    usage: package-files.py INSTALLER|PACKAGE_BIN OUTPUT_DIR
           package-files.py --machine INSTALLER   (prints x86 or x64)
"""
import hashlib
import lzma
import os
import struct
import sys

PACKAGE_TYPE, PACKAGE_ID = "BINARY", 130
TYPE_NAME, TYPE_SELECTOR, TYPE_DATA = 1, 5, 101
PLATFORMS = {1: "x86", 2: "x64", 3: "both"}


MACHINES = {0x14C: "x86", 0x8664: "x64"}


def pe_header(pe):
    """The offset of the PE signature."""
    pe_offset = struct.unpack_from("<I", pe, 0x3C)[0]
    if pe[pe_offset:pe_offset + 4] != b"PE\0\0":
        sys.exit("package-files.py: not a PE file")
    return pe_offset


def machine(pe):
    return MACHINES[struct.unpack_from("<H", pe, pe_header(pe) + 4)[0]]


def resource(pe, type_name, resource_id):
    """The data of one resource, found through the resource directory."""
    pe_offset = pe_header(pe)
    sections_count, optional_size = struct.unpack_from("<H12xH", pe, pe_offset + 6)
    optional = pe_offset + 24
    magic = struct.unpack_from("<H", pe, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", pe, directories + 2 * 8)[0]
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", pe, at + 8)
        sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        sys.exit("package-files.py: a resource outside every section")

    base = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<12xHH", pe, base + directory)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", pe, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from("<H", pe, base + (name & 0x7FFFFFFF))[0]
                start = base + (name & 0x7FFFFFFF) + 2
                key = pe[start:start + 2 * length].decode("utf-16-le")
            else:
                key = name
            yield key, target

    def find(directory, key):
        for name, target in entries(directory):
            if name == key:
                return target
        sys.exit(f"package-files.py: no resource {type_name}/{resource_id}")

    names = find(0, type_name) & 0x7FFFFFFF
    languages = find(names, resource_id) & 0x7FFFFFFF
    data_entry = next(entries(languages))[1]
    data_rva, size = struct.unpack_from("<II", pe, base + data_entry)
    start = offset(data_rva)
    return pe[start:start + size]


def files(stream):
    """(name, selector, data) of each file of the package stream."""
    at, name, selector = 0, None, 3
    while at < len(stream):
        kind, length = struct.unpack_from(">BI", stream, at)
        body = stream[at + 5:at + 5 + length]
        at += 5 + length
        if kind == TYPE_NAME:
            name, selector = body.decode("utf-8"), 3
        elif kind == TYPE_SELECTOR:
            selector = body[0]
        elif kind == TYPE_DATA:
            yield name, selector, body


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    if sys.argv[1] == "--machine":
        with open(sys.argv[2], "rb") as f:
            print(machine(f.read(4096)))
        return
    with open(sys.argv[1], "rb") as f:
        pe = f.read()
    packed = resource(pe, PACKAGE_TYPE, PACKAGE_ID) if pe[:2] == b"MZ" else pe
    stream = lzma.decompress(packed, format=lzma.FORMAT_ALONE)
    for name, selector, data in files(stream):
        platform = PLATFORMS[selector]
        path = os.path.join(sys.argv[2], platform, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print(platform, name, hashlib.sha256(data).hexdigest())


if __name__ == "__main__":
    main()
