#!/bin/sh
# Renders the 126 x 31 logo shown at the right of the window's white top band and writes
# res/logo.jpg: a baseline (non-progressive) JPEG with three colour components, which is
# what the window's decoder expects. Needs ImageMagick's convert and the DejaVu fonts.
#
# The design: a small code-disc mark (a navy ring with four slots, echoing the icon) and the
# word Corvane in navy, underlined with the orange of the band below the logo.
#
# Run from anywhere:  sh res/art/make-logo.sh
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out="$here/../logo.jpg"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

convert -size 126x31 xc:white \
    -fill none -stroke '#000080' -strokewidth 3 -draw 'circle 15,15 15,5' \
    -stroke white -strokewidth 2 \
    -draw 'line 15,3 15,8' -draw 'line 15,22 15,27' \
    -draw 'line 3,15 8,15' -draw 'line 22,15 27,15' \
    -stroke none -fill '#FF8040' -draw 'circle 15,15 15,12' \
    -fill '#000080' -font "$font" -pointsize 17 -annotate +31+20 'Corvane' \
    -fill '#FF8040' -draw 'rectangle 32,24 121,25' \
    -type TrueColor -colorspace sRGB -strip -interlace none -sampling-factor 2x2 \
    -quality 92 "jpeg:$out"

echo "wrote $out"
