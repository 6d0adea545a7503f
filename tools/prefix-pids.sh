#!/usr/bin/env bash
# The processes of one Wine prefix, its wineserver among them: those whose
# environment names it as WINEPREFIX. One grep over /proc, run without the
# variable itself so that it never lists itself.
#   usage: prefix-pids.sh PREFIX
env -u WINEPREFIX grep -lsxzF "WINEPREFIX=$1" /proc/[0-9]*/environ | cut -d/ -f3
