#!/bin/sh
# Regenerates the launcher's artwork with ImageMagick (apt-get install imagemagick).
# Run from this folder: sh make-images.sh
set -e
# 1.png, 55 x 66: the launcher's emblem, a shield holding a camera lens.
convert -size 55x66 xc:none \
  -fill '#1B9ACD' -stroke '#0E5F80' -strokewidth 2 \
  -draw 'path "M 27.5,2 L 52,11 L 52,34 C 52,50 40,59 27.5,64 C 15,59 3,50 3,34 L 3,11 Z"' \
  -stroke none -fill white -draw 'circle 27.5,31 27.5,15' \
  -fill '#0E5F80' -draw 'circle 27.5,31 27.5,22' \
  -fill '#7FD3F5' -draw 'circle 24,27 24,24' \
  PNG32:1.png
# 2.png, 128 x 127: "show", a window with an upward arrow.
convert -size 128x127 xc:none \
  -fill '#ECF1F3' -stroke '#1B9ACD' -strokewidth 8 -draw 'roundrectangle 10,14 118,116 12,12' \
  -fill '#1B9ACD' -stroke none -draw 'rectangle 10,14 118,36' \
  -fill '#00B17D' -draw 'polygon 64,48 94,80 74,80 74,104 54,104 54,80 34,80' \
  PNG32:2.png
# 3.png, 128 x 128: "quit", a power symbol.
convert -size 128x128 xc:none \
  -fill none -stroke '#D64D54' -strokewidth 14 -draw 'arc 18,22 110,114 -50,230' \
  -draw 'line 64,10 64,62' \
  PNG32:3.png
# logo.ico: the emblem drawn at each of the sizes Windows picks from, 16 to
# 256, 32 bits per pixel with alpha (the 256 one PNG-compressed, as Windows
# expects). At 33 px and up the emblem fills the height at its own proportions;
# below, the outline keeps one whole pixel so the shield still reads, and the
# emblem shrinks by that much so the wider outline is not clipped.
for size in 16 24 32 48 64 128 256; do
  set -- $(awk -v S=$size 'BEGIN {
    s = S / 66; w = (1 / s > 2) ? 1 / s : 2
    s = S / (64 + w); w = (1 / s > 2) ? 1 / s : 2
    printf "%.4f %.4f %.4f %.4f\n", S / 2 - 27.5 * s, S / 2 - 33 * s, s, w }')
  convert -size ${size}x${size} xc:none \
    -draw "translate $1,$2 scale $3,$3 fill '#1B9ACD' stroke '#0E5F80' stroke-width $4 path 'M 27.5,2 L 52,11 L 52,34 C 52,50 40,59 27.5,64 C 15,59 3,50 3,34 L 3,11 Z' stroke none fill white circle 27.5,31 27.5,15 fill '#0E5F80' circle 27.5,31 27.5,22 fill '#7FD3F5' circle 24,27 24,24" \
    PNG32:logo-$size.png
done
convert logo-16.png logo-24.png logo-32.png logo-48.png logo-64.png logo-128.png logo-256.png \
  -type TrueColorAlpha -define png:exclude-chunks=date,time logo.ico
rm -f logo-16.png logo-24.png logo-32.png logo-48.png logo-64.png logo-128.png logo-256.png
# tessarin-128.png, 128 x 128: the emblem drawn at 1.9 times its size, the
# desktop icon of Linux installations (share/icons/hicolor/128x128/apps).
convert -size 128x128 xc:none \
  -draw "translate 11.75,1.3 scale 1.9,1.9 fill '#1B9ACD' stroke '#0E5F80' stroke-width 2 path 'M 27.5,2 L 52,11 L 52,34 C 52,50 40,59 27.5,64 C 15,59 3,50 3,34 L 3,11 Z' stroke none fill white circle 27.5,31 27.5,15 fill '#0E5F80' circle 27.5,31 27.5,22 fill '#7FD3F5' circle 24,27 24,24" \
  PNG32:tessarin-128.png
