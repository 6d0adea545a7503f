#!/usr/bin/env bash
# Runs the setup program the way an administrator would, in a fresh Wine
# prefix of its own that is removed afterwards.
#   usage: demo.sh PATH/TO/QuendalInstaller.exe
set -u
exe=$(realpath "$1")
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quendal-demo.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k >/dev/null 2>&1; wineserver -w; rm -rf "$prefix"' EXIT

echo "== A fresh Wine prefix: $prefix"
wineboot -i >/dev/null 2>&1
wineserver -w

run() {
  echo
  echo "== C:\\> QuendalInstaller.exe $*"
  wine "$exe" "$@"
  echo "== exit code: $?"
}
run -help
run -installDir='C:\Program Files\Quendal-Demo' -site=Quendal-Other -acceptEULA
run -installDir='C:\Program Files\Quendal-Demo' -acceptEULA -startService
