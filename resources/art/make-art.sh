#!/usr/bin/env bash
# Renders the banner and the icon from their SVG sources into the files that the build embeds.
# Needs: librsvg2-bin (rsvg-convert), libjpeg-turbo-progs (cjpeg), netpbm, fonts-wqy-microhei.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(dirname "$here")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Banner: 625 x 84, baseline JPEG with three colour components.
rsvg-convert -w 625 -h 84 -b white "$here/banner.svg" -o "$tmp/banner.png"
pngtopnm "$tmp/banner.png" | ppmtoppm > "$tmp/banner.ppm"
cjpeg -quality 92 -baseline -optimize "$tmp/banner.ppm" > "$out/banner.jpg"

# Icon: one image per size the window offers.
mkdir -p "$out/icon"
for size in 16 24 32 48 64 128; do
  rsvg-convert -w "$size" -h "$size" "$here/tv.svg" -o "$out/icon/tv-$size.png"
done
