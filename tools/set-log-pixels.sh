#!/usr/bin/env bash
# Sets a stopped Wine prefix's system DPI (96 is 100 %, 144 is 150 %, 192 is
# 200 %): every copy of the setting in its registry files, so that each part
# of Wine reads the same.
#   usage: set-log-pixels.sh PREFIX DPI
set -eu
hex=$(printf '%08x' "$2")
sed -i "s/^\"LogPixels\"=dword:.*/\"LogPixels\"=dword:$hex/" "$1/system.reg" "$1/user.reg"
