#!/bin/bash
# Zoom's high-quality mode against libvips' Lanczos-3 resize: how close
# (PSNR of ours against `vips resize --kernel lanczos3`, with ImageMagick's
# Lanczos resize beside it for scale) and how fast.
#
#   zone plate 4096 x 4096 to 1024 x 1024 (a reduction by 4: block means,
#     then Lanczos-3; the picture is written as PNG to look at)
#   the bundled photo enlarged to 4000 x 3000 (as bench/vs_libvips.sh makes
#     it) to 1024 x 768 and to half, 2000 x 1500
#   zoom to half end to end, load + apply + save JPEG, ours through COM in
#     a script under Wine and libvips as a native process (median of five),
#     and ours for the Apply alone
#
#   bash bench/zoom_vs_libvips.sh   (after tools/main.sh; installs
#                                    libvips-tools, imagemagick and bc for
#                                    itself: benchmark tools only)
set -u
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/bench/lib.sh"
bench_setup zoom-vs-libvips libvips-tools imagemagick bc
zoom_js="$(qb_winpath "$QB_ROOT/bench/scripts/zoom_to.js")"

# A zone plate: grey 127.5 + 127.5 cos(pi r^2 / 4096), its rings reaching
# the source's own finest stripes at the middle of each edge, in all three
# channels.
zone="$work/zone.png"
if [ ! -s "$zone" ]; then
  vips zone "$work/zone.v" 4096 4096 &&
    vips linear "$work/zone.v" "$work/zone1.v" 127.5 127.5 --uchar &&
    vips bandjoin "$work/zone1.v $work/zone1.v $work/zone1.v" "$work/zone3.v" &&
    vips copy "$work/zone3.v" "$zone" --interpretation srgb
  rm -f "$work"/zone*.v
fi
photo="$work/photo.jpg"
bench_photo "$photo" -quality 92
# Both sides read the same decoded pixels.
[ -s "$work/photo.png" ] || convert "$photo" "$work/photo.png"

psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | awk '{ print $1 }'; }
printf '%-26s %12s %12s\n' "PSNR against libvips (dB)" Quillbox ImageMagick
for job in "zone 1024 1024" "photo 1024 768" "photo 2000 1500"; do
  read -r name w h <<<"$job"
  in="$work/$name.png" base="$work/$name-${w}x$h"
  iw=$(vipsheader -f width "$in")
  vips resize "$in" "$base-vips.png" "$(echo "scale=10; $w / $iw" | bc)" --kernel lanczos3
  convert "$in" -filter Lanczos -resize "${w}x$h!" "$base-magick.png"
  rm -f "$base-ours.png"
  wine cscript //nologo "$zoom_js" "$(qb_winpath "$in")" "$(qb_winpath "$base-ours")" "$w" "$h" >/dev/null
  [ -s "$base-ours.png" ] || { echo "zoom of $in failed" >&2; exit 1; }
  printf '%-26s %12s %12s\n' "$name to ${w}x$h" "$(psnr "$base-ours.png" "$base-vips.png")" \
    "$(psnr "$base-magick.png" "$base-vips.png")"
done

ours=$(wine cscript //nologo "$(qb_winpath "$QB_ROOT/bench/scripts/one_operation.js")" "$(qb_winpath "$photo")" \
  "$(qb_winpath "$work")" zoom | tr -d '\r')
vips=$(seconds vips resize "$photo" "$work/vips-half.jpg" 0.5 --kernel lanczos3)
apply=$(wine cscript //nologo "$zoom_js" "$(qb_winpath "$work/photo.png")" "$(qb_winpath "$work/apply-half")" \
  2000 1500 5 | tr -d '\r')
awk -v q="$ours" -v v="$vips" -v a="$apply" 'BEGIN {
  printf "zoom to half, load + apply + save JPEG: Quillbox %.3f s, libvips %.3f s, ratio %.3f\n", q, v, q / v
  printf "zoom to half, Apply alone: %.3f s\n", a }'
