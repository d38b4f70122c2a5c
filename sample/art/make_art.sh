#!/bin/sh
# Redraws the sample's pictures and icons with ImageMagick 6 (convert). The results
# are committed; run this only to change them:  sh sample/art/make_art.sh
# Writes: setup/*.png, the Icon= lines of setup/*.lng, programs/*.ico and
# product/Icons/*.ico.
set -eu
CONVERT=${CONVERT:-convert}
here=$(cd "$(dirname "$0")" && pwd)
sample=$(dirname "$here")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

BOLD=DejaVu-Sans-Bold
REGULAR=DejaVu-Sans
ACCENT='#DE8C33'
ACCENT_DARK='#AC671C'

# The product mark: an orange rounded square with a white play triangle, drawn
# large and scaled down so that small sizes stay smooth.
mark() { # size out
  $CONVERT -size 256x256 gradient:'#F4AE5C'-'#C96F18' -alpha set \
    \( -size 256x256 xc:none -fill white -draw 'roundrectangle 8,8 247,247 56,56' \) \
    -compose DstIn -composite -compose over \
    -fill white -draw 'polygon 98,72 98,184 190,128' \
    -resize "$1x$1" "$2"
}

# A file-type icon: a white sheet with a folded corner and a coloured glyph.
sheet() { # glyph colour out
  $CONVERT -size 256x256 xc:none \
    -fill '#FFFFFF' -stroke '#9A9A9A' -strokewidth 8 \
    -draw 'polygon 40,12 168,12 224,68 224,244 40,244' \
    -fill '#E6E6E6' -draw 'polygon 168,12 168,68 224,68' \
    -stroke none -fill "$2" -draw 'roundrectangle 64,104 200,220 18,18' \
    -font $BOLD -pointsize 110 -fill white -gravity center -annotate +0+34 "$1" \
    "$tmp/sheet.png"
  for s in 16 32 48; do $CONVERT "$tmp/sheet.png" -resize ${s}x$s "$tmp/sheet$s.png"; done
  $CONVERT "$tmp/sheet16.png" "$tmp/sheet32.png" "$tmp/sheet48.png" "$3"
}

icon() { # in-prefix out: a multi-size icon from the mark
  for s in 16 32 48; do mark $s "$tmp/$1$s.png"; done
  $CONVERT "$tmp/${1}16.png" "$tmp/${1}32.png" "$tmp/${1}48.png" "$2"
}

# --- program icons
icon kivo "$sample/programs/KIVO.ico"
for s in 16 32 48; do
  $CONVERT -size 256x256 gradient:'#5AA0E6'-'#2A64B4' -alpha set \
    \( -size 256x256 xc:none -fill white -draw 'roundrectangle 8,8 247,247 56,56' \) \
    -compose DstIn -composite -compose over \
    -fill white -draw 'rectangle 110,56 146,200' -draw 'rectangle 56,110 200,146' \
    -resize ${s}x$s "$tmp/addon$s.png"
done
$CONVERT "$tmp/addon16.png" "$tmp/addon32.png" "$tmp/addon48.png" "$sample/programs/AddonSetup.ico"

# --- product icons (file types that the registration program associates)
mkdir -p "$sample/product/Icons"
sheet '♪' "$ACCENT" "$sample/product/Icons/Audio.ico"
sheet '▶' '#3C7DC4' "$sample/product/Icons/Video.ico"
sheet '≡' '#5A9E4B' "$sample/product/Icons/Playlist.ico"
icon kivoicon "$sample/product/Icons/KIVO.ico"

# The window's pictures at 100 %, 150 % and 200 % ("name.png", "name-150.png",
# "name-200.png"): each drawn at its own size, so that none is enlarged on screen.
# px N: a length at the scale being drawn.
px() { echo $(($1 * SCALE / 100)); }
suffix() { [ "$SCALE" -eq 100 ] || echo "-$SCALE"; }

for SCALE in 100 150 200; do
  # --- header band, 640 x 53 (the window's header; page titles are drawn over its
  # right part, so that part stays plain)
  mark "$(px 38)" "$tmp/mark38.png"
  header() { # background-from background-to wordmark-colour out
    $CONVERT -size "$(px 53)x$(px 640)" gradient:"$1"-"$2" -rotate -90 \
      "$tmp/mark38.png" -geometry "+$(px 14)+$(px 7)" -composite \
      -font $BOLD -pointsize "$(px 25)" -fill "$3" -annotate "+$(px 60)+$(px 36)" 'KIVO' \
      "$4"
  }
  header '#FFF4E8' '#FFFFFF' "$ACCENT" "$sample/setup/header$(suffix).png"
  header '#3A2E22' '#262626' '#E9A04E' "$sample/setup/header_dark$(suffix).png"

  # --- wizard picture, 188 x 435 (left part of the welcome and finish pages)
  mark "$(px 96)" "$tmp/mark96.png"
  wizard() { # gradient-from gradient-to ring-colour text-colour sub-colour out
    $CONVERT -size "$(px 188)x$(px 435)" gradient:"$1"-"$2" \
      -fill none -stroke "$3" -strokewidth "$(px 18)" -draw "circle $(px 150),$(px 330) $(px 150),$(px 200)" \
      -strokewidth "$(px 10)" -draw "circle $(px 20),$(px 90) $(px 20),$(px 10)" -stroke none \
      "$tmp/mark96.png" -geometry "+$(px 46)+$(px 118)" -composite \
      -font $BOLD -pointsize "$(px 40)" -fill "$4" -gravity north -annotate "+0+$(px 232)" 'KIVO' \
      -font $REGULAR -pointsize "$(px 13)" -fill "$5" -annotate "+0+$(px 284)" 'media player' \
      "$6"
  }
  wizard '#F6B266' '#C4691A' '#FFFFFF22' '#FFFFFF' '#FFF1E0' "$sample/setup/wizard_light$(suffix).png"
  wizard '#3B2B1C' '#1C1C1C' '#DE8C3326' '#F0F0F0' '#E9A04E' "$sample/setup/wizard_dark$(suffix).png"

  # --- add-ons picture, 250 x 90 (top right of the add-ons page)
  tile() { # colour x: draws one rounded tile on $tmp/addons.png
    $CONVERT "$tmp/addons.png" -fill "$1" \
      -draw "roundrectangle $(px "$2"),$(px 14) $(px $(($2 + 62))),$(px 76) $(px 14),$(px 14)" "$tmp/addons.png"
  }
  $CONVERT -size "$(px 250)x$(px 90)" xc:none -fill '#FFF4E8' -stroke '#F1C89A' -strokewidth "$(px 2)" \
    -draw "roundrectangle $(px 1),$(px 1) $(px 248),$(px 88) $(px 16),$(px 16)" "$tmp/addons.png"
  tile "$ACCENT" 18
  tile '#3C7DC4' 94
  tile '#5A9E4B' 170
  $CONVERT "$tmp/addons.png" \
    -fill white -draw "polygon $(px 26),$(px 66) $(px 44),$(px 40) $(px 56),$(px 56) $(px 62),$(px 48) $(px 72),$(px 66)" \
    -draw "circle $(px 66),$(px 30) $(px 66),$(px 24)" \
    -draw "rectangle $(px 120),$(px 28) $(px 130),$(px 62)" -draw "rectangle $(px 108),$(px 40) $(px 142),$(px 50)" \
    -font $BOLD -pointsize "$(px 40)" -annotate "+$(px 184)+$(px 61)" '★' \
    "$sample/setup/addons$(suffix).png"
done

# --- language icons: a flag at 16, 24 and 32 pixels (for 100, 150 and 200 %), each in a
# square icon, stored as hex in the .lng files
flag() { # out draw-args...
  out=$1; shift
  for s in 16 24 32; do
    $CONVERT -size 600x300 xc:none "$@" -resize "${s}x$((s * 11 / 16))!" \
      -background none -gravity center -extent "${s}x$s" "$tmp/flag$s.png"
  done
  $CONVERT "$tmp/flag16.png" "$tmp/flag24.png" "$tmp/flag32.png" "$out"
}
flag "$tmp/EN.ico" -fill '#012169' -draw 'rectangle 0,0 600,300' \
  -stroke white -strokewidth 80 -draw 'line 0,0 600,300' -draw 'line 0,300 600,0' \
  -stroke '#C8102E' -strokewidth 36 -draw 'line 0,0 600,300' -draw 'line 0,300 600,0' -stroke none \
  -fill white -draw 'rectangle 230,0 370,300' -draw 'rectangle 0,85 600,215' \
  -fill '#C8102E' -draw 'rectangle 260,0 340,300' -draw 'rectangle 0,110 600,190'
flag "$tmp/DE.ico" -fill black -draw 'rectangle 0,0 600,100' \
  -fill '#DD0000' -draw 'rectangle 0,100 600,200' -fill '#FFCE00' -draw 'rectangle 0,200 600,300'
flag "$tmp/RU.ico" -fill white -draw 'rectangle 0,0 600,100' \
  -fill '#0039A6' -draw 'rectangle 0,100 600,200' -fill '#D52B1E' -draw 'rectangle 0,200 600,300'

python3 - "$sample/setup" "$tmp" <<'PY'
import re, sys
setup, tmp = sys.argv[1], sys.argv[2]
for lng, family in (("English", "EN"), ("German", "DE"), ("Russian", "RU")):
    path = f"{setup}/{lng}.lng"
    try:
        text = open(path, encoding="utf-16").read()
    except FileNotFoundError:
        continue
    icon = open(f"{tmp}/{family}.ico", "rb").read().hex().upper()
    text = re.sub(r"(?m)^Icon=.*$", "Icon=" + icon, text)
    with open(path, "w", encoding="utf-16-le", newline="") as f:
        f.write("\ufeff" + text.replace("\r\n", "\n").replace("\n", "\r\n"))
PY
