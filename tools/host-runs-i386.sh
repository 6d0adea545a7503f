#!/usr/bin/env bash
# Tells whether this host executes 32-bit x86 code: writes a 96-byte static
# i386 ELF program that only exits with 42 and runs it. Some kernels are built
# without 32-bit support; there, 32-bit Wine cannot start either.
#   exit 0: it runs; exit 1: it does not.
set -u
probe=$(mktemp "${TMPDIR:-/tmp}/i386-probe.XXXXXX")
trap 'rm -f "$probe"' EXIT
# ELF header (52 bytes), one loadable segment (32 bytes), then
# mov eax,1; mov ebx,42; int 0x80 (exit(42)), loaded at 0x08048000.
printf '%b' \
'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
'\x00\x00\x00\x00' \
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
'\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
