#!/usr/bin/env bash
# Renders the PNG icons from the SVG; run after changing the SVG and commit
# the results. Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"

id=io.github.netvane.Netvane
for size in 16 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}"
  rsvg-convert --width "$size" --height "$size" "$id.svg" -o "${size}x${size}/$id.png"
done
