#!/usr/bin/env bash
# Makes the program's icons from their drawings: group 117 (the application
# icon) and group 119 (the small icon), each with an image for the icon sizes
# of 100, 125, 150 and 200 % (16/32 pixels at 100 %), so that Windows never
# scales one up; the 256-pixel image is for Explorer's large views. The
# 16-pixel image has a drawing of its own, simplified to stay sharp.
#   usage: make-icons.sh SOURCE_DIR OUTPUT_DIR
set -euo pipefail
src=$1 out=$2
mkdir -p "$out"
rsvg-convert -w 16 -h 16 "$src/Quendal-16.svg" -o "$out/Quendal-16.png"
for size in 20 24 32 40 48 64 256; do
  rsvg-convert -w $size -h $size "$src/Quendal.svg" -o "$out/Quendal-$size.png"
done
icotool -c -o "$out/Quendal.ico" "$out"/Quendal-{16,20,24,32,40,48,64}.png --raw="$out/Quendal-256.png"
icotool -c -o "$out/QuendalSmall.ico" "$out"/Quendal-{16,20,24,32}.png
