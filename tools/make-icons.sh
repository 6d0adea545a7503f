#!/usr/bin/env bash
# Makes the program's icons from their drawings: group 117 (the application
# icon: 16, 32, 48 and 256 pixels) and group 119 (the small icon: 16 and 32).
# The 16-pixel image has a drawing of its own, simplified to stay sharp.
#   usage: make-icons.sh SOURCE_DIR OUTPUT_DIR
set -euo pipefail
src=$1 out=$2
mkdir -p "$out"
rsvg-convert -w 16 -h 16 "$src/Quendal-16.svg" -o "$out/Quendal-16.png"
for size in 32 48 256; do
  rsvg-convert -w $size -h $size "$src/Quendal.svg" -o "$out/Quendal-$size.png"
done
icotool -c -o "$out/Quendal.ico" "$out/Quendal-16.png" "$out/Quendal-32.png" "$out/Quendal-48.png" \
  --raw="$out/Quendal-256.png"
icotool -c -o "$out/QuendalSmall.ico" "$out/Quendal-16.png" "$out/Quendal-32.png"
