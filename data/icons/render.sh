#!/usr/bin/env bash
# Renders the icon's PNG sizes from quorvane.svg; run it after changing the drawing and
# commit the PNGs, so that building needs no SVG tool.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" quorvane.svg --output "quorvane-$size.png"
done
