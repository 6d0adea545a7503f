#!/usr/bin/env python3
"""Where a command's processor time goes, by program: runs the command with
the kernel's process accounting switched on and sums the user and system
time of every process that ended meanwhile (the whole machine's, so run it
on a quiet one), by the name the kernel kept for it (15 characters; Wine's
processes by their Windows program's name). Needs root (CAP_SYS_PACCT).
    usage: cpu-by-program.py [--top N] COMMAND [ARGS...]
    e.g.   tools/cpu-by-program.py tools/with-xvfb.sh ctest --test-dir build/win64 -j 2
"""
import collections
import ctypes
import os
import struct
import subprocess
import sys
import tempfile

RECORD = 64  # struct acct_v3
TICKS = 100  # AHZ: the unit of the times in an accounting record


def comp_t(value):
    """The kernel's 16-bit float: 13 bits of mantissa, 3 of base-8 exponent."""
    return (value & 0x1FFF) << (3 * ((value >> 13) & 7))


def accounting(path):
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.acct(path.encode() if path else None) != 0:
        sys.exit(f"cpu-by-program.py: acct(): {os.strerror(ctypes.get_errno())}")


def main():
    args = sys.argv[1:]
    top = 30
    if args[:1] == ["--top"]:
        top, args = int(args[1]), args[2:]
    if not args:
        sys.exit(__doc__)
    with tempfile.NamedTemporaryFile(prefix="quendal-acct.") as log:
        accounting(log.name)
        try:
            status = subprocess.call(args)
        finally:
            accounting(None)
        data = open(log.name, "rb").read()
    totals = collections.defaultdict(lambda: [0, 0, 0])  # user, system, processes
    for offset in range(0, len(data) - RECORD + 1, RECORD):
        record = data[offset:offset + RECORD]
        if record[1] != 3:  # version
            continue
        user, system = struct.unpack_from("<HH", record, 32)
        name = record[48:64].split(b"\0")[0].decode("latin-1")
        totals[name][0] += comp_t(user)
        totals[name][1] += comp_t(system)
        totals[name][2] += 1
    everything = sum(u + s for u, s, _ in totals.values())
    system = sum(s for _, s, _ in totals.values())
    print(f"processor time of the processes that ended: {everything / TICKS:.1f} s"
          f" ({system / TICKS:.1f} s of it in the kernel)", file=sys.stderr)
    print("   total   kernel  processes", file=sys.stderr)
    for name, (u, s, count) in sorted(totals.items(), key=lambda item: -sum(item[1][:2]))[:top]:
        print(f"{(u + s) / TICKS:8.1f} {s / TICKS:8.1f} {count:10d}  {name}", file=sys.stderr)
    return status


if __name__ == "__main__":
    sys.exit(main())
