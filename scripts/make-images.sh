#!/bin/sh
# Draws the pictures under lib/ with ImageMagick: the tree views' folder and
# file icons (plain and checked for recovery), the banners of the main window
# and the wizard, the wizard's pointing hand, and the icons of the sources tree
# (lib/images/<entry type>.png). The PNGs are committed; run this again after
# changing a drawing.
#   scripts/make-images.sh [OUTPUT_DIR]     (default: lib/ of the repository)
set -eu
cd "$(dirname "$0")/.."
OUT=${1:-lib}
mkdir -p "$OUT/images"
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# No time stamps or tool comments in the files, so that an unchanged drawing
# gives unchanged bytes.
final() { # source, target, more options...
    src=$1 dst=$2
    shift 2
    convert "$src" "$@" -strip -define png:exclude-chunks=date,time \
        -define png:color-type=6 "$dst"
}

# Icons are drawn at 64 x 64 and scaled down to 16 x 16 for smooth edges.
canvas() { convert -size 64x64 xc:none "$@"; }
shrink() { final "$1" "$2" -filter Lanczos -resize 16x16; }

folder() { # into file $1
    canvas -stroke "#8a6212" -strokewidth 3 -fill "#e0a526" \
        -draw "roundrectangle 6,10 30,24 4,4" \
        -fill "#f4c542" -draw "roundrectangle 4,18 60,56 5,5" "$1"
}
page() {
    canvas -stroke "#6b7580" -strokewidth 3 -fill "#ffffff" \
        -draw "polygon 12,4 40,4 54,18 54,60 12,60" \
        -fill "#d5dae0" -draw "polygon 40,4 40,18 54,18" \
        -stroke "#9aa3ad" -draw "line 20,30 46,30" -draw "line 20,39 46,39" \
        -draw "line 20,48 40,48" "$1"
}
# A green tick on a white halo at the lower right, over the picture in $1.
tick() {
    convert "$1" -fill none -stroke "#ffffff" -strokewidth 16 \
        -draw "polyline 28,44 40,56 60,28" \
        -stroke "#1e9e2e" -strokewidth 9 -draw "polyline 28,44 40,56 60,28" "$1"
}

folder "$TMP/folder.png"
page "$TMP/page.png"
shrink "$TMP/folder.png" "$OUT/Directory.png"
shrink "$TMP/page.png" "$OUT/File.png"
shrink "$TMP/folder.png" "$OUT/images/directory.png"
shrink "$TMP/page.png" "$OUT/images/file.png"
tick "$TMP/folder.png"
tick "$TMP/page.png"
shrink "$TMP/folder.png" "$OUT/DirectoryChecked.png"
shrink "$TMP/page.png" "$OUT/FileChecked.png"

# The other entry types of the sources tree.
canvas -stroke "#4d565e" -strokewidth 3 -fill "#aab4be" \
    -draw "roundrectangle 4,16 60,50 6,6" -draw "line 6,38 58,38" \
    -stroke none -fill "#2fc24a" -draw "circle 50,44 50,41" "$TMP/drive.png"
canvas -stroke "#1f3557" -strokewidth 3 -fill "#3a6aa8" \
    -draw "polygon 6,6 50,6 58,14 58,58 6,58" \
    -stroke none -fill "#c8ccd0" -draw "rectangle 18,7 44,24" \
    -fill "#3a6aa8" -draw "rectangle 34,10 40,21" \
    -fill "#ffffff" -draw "rectangle 14,34 50,57" "$TMP/floppy.png"
canvas -stroke "#4d565e" -strokewidth 3 -fill "#c9d3de" -draw "circle 32,32 32,5" \
    -fill "#3b78c2" -draw "path 'M 32,32 L 32,5 A 27,27 0 0,1 59,32 Z'" "$TMP/partition.png"
canvas -stroke "#1f4f8a" -strokewidth 3 -fill "#5f9bd8" -draw "circle 32,32 32,5" \
    -fill none -draw "ellipse 32,32 12,27 0,360" -draw "line 5,32 59,32" \
    -draw "line 9,19 55,19" -draw "line 9,45 55,45" "$TMP/network.png"
canvas -stroke "#4d565e" -strokewidth 3 -draw "line 17,24 32,44" -draw "line 47,24 32,44" \
    -fill "#7fb3e6" -draw "roundrectangle 4,8 30,28 3,3" \
    -draw "roundrectangle 34,8 60,28 3,3" -draw "roundrectangle 19,38 45,58 3,3" \
    "$TMP/workgroup.png"
canvas -stroke "#3b434a" -strokewidth 3 -fill "#9aa4ae" -draw "roundrectangle 16,4 48,60 4,4" \
    -stroke "#5d666f" -draw "line 22,16 42,16" -draw "line 22,24 42,24" \
    -draw "line 22,32 42,32" -stroke none -fill "#2fc24a" -draw "circle 40,50 40,47" \
    "$TMP/server.png"
# A shared folder: the folder on a network connector.
folder "$TMP/share.png"
convert "$TMP/share.png" -fill none -stroke "#ffffff" -strokewidth 12 \
    -draw "line 32,42 32,64" -stroke "#1f4f8a" -strokewidth 6 -draw "line 32,42 32,64" \
    -stroke "#ffffff" -strokewidth 3 -fill "#3b78c2" -draw "circle 32,40 32,30" \
    "$TMP/share.png"
for type in drive floppy partition network workgroup server share; do
    shrink "$TMP/$type.png" "$OUT/images/$type.png"
done

# Banners: one vertical gradient, so every pixel column is the same and the
# stretched first column joins both pictures without a seam.
gradient() { convert -size "$1" gradient:"#2d5187"-"#162b4a" "$2"; }
EMBLEM_STYLE="rgba(255,255,255,0.35)"
gradient 280x56 "$TMP/left.png"
final "$TMP/left.png" "$OUT/MainFrameBannerLeft.png" \
    -font DejaVu-Sans-Bold -pointsize 26 -fill "#ffffff" -annotate +16+37 "Halbrook"
gradient 120x56 "$TMP/right.png"
final "$TMP/right.png" "$OUT/MainFrameBannerRight.png" -fill none -stroke "$EMBLEM_STYLE" \
    -strokewidth 2 -draw "circle 80,28 80,4" -draw "circle 80,28 80,14" \
    -draw "circle 80,28 80,24" -draw "line 80,28 104,40"
gradient 120x48 "$TMP/wizard.png"
final "$TMP/wizard.png" "$OUT/WizardBannerRight.png" -fill none -stroke "$EMBLEM_STYLE" \
    -strokewidth 2 -draw "circle 84,24 84,3" -draw "circle 84,24 84,12" \
    -draw "circle 84,24 84,21" -draw "line 84,24 105,34"

# The wizard's pointing hand: a glyph of DejaVu Sans.
convert -size 192x192 xc:none -font DejaVu-Sans -pointsize 170 -fill "#2d5187" \
    -gravity center -annotate +0+0 "$(printf '\342\230\236')" -trim +repage "$TMP/hand.png"
final "$TMP/hand.png" "$OUT/WizardHand.png" -filter Lanczos -resize 44x44 \
    -gravity center -background none -extent 48x48
