#!/usr/bin/env bash
# Renders the installer's main dialog under a virtual display, in a fresh Wine
# prefix of its own: with no installed site, with three installed sites (one
# of them highlighted), and the package contents window; then the dialog with
# three sites and the focus on a link at 100, 150 and 200 % (96, 144 and 192
# DPI).
#   usage: screenshots.sh BUILD_DIR OUTPUT_DIR
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
here=$(dirname "$(realpath "$0")")
mkdir -p "$out"
"$here/make-wine-template.sh" "$build/wine-template" >/dev/null
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quendal-shots.XXXXXX")
cp -a "$build/wine-template/." "$prefix/"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k >/dev/null 2>&1; wineserver -w; rm -rf "$prefix"' EXIT
installer=$build/QuendalInstaller.exe
driver=$build/tests/screenshot_driver.exe
title="Korvane Quendal 5.18 Installer"

shot() { # title file
  local geometry
  geometry=$(wine "$driver" rect "$1" | tr -d '\r')
  import -window root -crop "$geometry" +repage "$out/$2"
  echo "  $out/$2 ($geometry)"
}

echo "== The dialog without installed sites"
wine "$installer" >/dev/null 2>&1 &
shot "$title" dialog-no-sites.png
wine "$driver" click "$title" 2
wait || true

echo "== Three installed sites"
for dir in 'C:\Sites\Korvane Quendal' 'C:\Sites\Quendal-Web' 'C:\Sites\Quendal-Lab'; do
  wine "$installer" "-installDir=$dir" -acceptEULA >/dev/null 2>&1
done
wine "$installer" >/dev/null 2>&1 &
wine "$driver" rect "$title" >/dev/null
wine "$driver" click "$title" 1004
wine "$driver" type "$title" 1001 'C:\Sites\Quendal-Web'
shot "$title" dialog-three-sites.png

echo "== The package contents window"
wine "$driver" space "$title" 1006
shot "Korvane Quendal 5.18 Package Contents" package-contents.png
wine "$driver" click "$title" 2
wait || true

# The same machine at each DPI: the prefix copied with the setting changed.
wineserver -w
base=$prefix
for dpi in 96 144 192; do
  echo "== Three installed sites at $dpi DPI"
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/quendal-shots.XXXXXX")
  cp -a "$base/." "$prefix/"
  "$here/set-log-pixels.sh" "$prefix" $dpi
  export WINEPREFIX=$prefix
  wine "$installer" >/dev/null 2>&1 &
  wine "$driver" rect "$title" >/dev/null
  wine "$driver" click "$title" 1004
  wine "$driver" type "$title" 1001 'C:\Sites\Quendal-Web'
  wine "$driver" focus "$title" 1006
  shot "$title" "dialog-${dpi}dpi.png"
  wine "$driver" click "$title" 2
  wait || true
  wineserver -w
  rm -rf "$prefix"
done
prefix=$base
export WINEPREFIX=$prefix
