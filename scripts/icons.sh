#!/bin/sh
# Draws the PNG sizes of the icon again from docs/icons/quorvanta.svg (the
# one that is edited), with rsvg-convert (librsvg2-bin).
set -eu
cd "$(dirname "$0")/../docs/icons"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" quorvanta.svg -o "quorvanta-$size.png"
done
