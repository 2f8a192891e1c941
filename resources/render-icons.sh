#!/usr/bin/env bash
# Regenerates the committed PNGs from their sources: the application icon at every
# installed size from icons/vurma.svg (rsvg-convert, Debian librsvg2-bin) and the two
# 32x32 hand cursors from their pixel maps in cursors/*.xpm (ImageMagick).
# Run it after editing a source and commit the PNGs it writes.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" icons/vurma.svg -o "icons/vurma-$size.png"
done
for name in hand-open hand-closed; do
  # -strip keeps time stamps out of the file so a rerun changes nothing.
  convert "cursors/$name.xpm" -strip "PNG32:cursors/$name.png"
done
