#!/bin/sh
# Renders the application icon's PNG sizes from desktop/corvanta-viewer.svg.
# Run after changing the SVG and commit the PNGs with it.
set -eu
cd "$(dirname "$0")/../desktop"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" corvanta-viewer.svg -o "icons/corvanta-viewer-$size.png"
done
