#!/bin/sh
# Draws the launcher's icon, a glowing gold orb on a dark field, and writes
# launcher.ico with 256, 48, 32 and 16 pixel images. The .ico is committed,
# so building needs no ImageMagick; run this only to change the drawing.
set -eu
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Drawn once at 256 pixels, then scaled down for the smaller images.
convert -size 256x256 xc:none \
  -fill '#120c1e' -draw 'roundrectangle 8,8 247,247 44,44' \
  \( -size 256x256 radial-gradient:'#ffd86a66'-'#00000000' \) -compose over -composite \
  -fill none -stroke '#8a6420' -strokewidth 10 -draw 'circle 128,128 128,38' \
  \( -size 256x256 xc:none -fill 'radial-gradient:#fff6c8-#c8901e' \
     -draw 'circle 128,128 128,50' \) -compose over -composite \
  \( -size 156x156 radial-gradient:'#fffbe6'-'#d9a22e' -alpha set \
     \( -size 156x156 xc:black -fill white -draw 'circle 78,78 78,2' \) \
     -alpha off -compose copy_opacity -composite \) -geometry +50+50 -compose over -composite \
  -fill '#fff8dc' -stroke none -draw 'polygon 128,70 140,116 186,128 140,140 128,186 116,140 70,128 116,116' \
  -fill '#ffffffcc' -draw 'circle 104,100 104,88' \
  "$work/icon-256.png"

for size in 48 32 16; do
  convert "$work/icon-256.png" -filter Lanczos -resize ${size}x${size} "$work/icon-$size.png"
done
# PNG-compressed 256 image (as Windows stores large icons), bitmaps for the rest.
convert "$work/icon-256.png" "$work/icon-48.png" "$work/icon-32.png" "$work/icon-16.png" \
  -depth 8 "$here/launcher.ico"
