#!/bin/bash
# End to end against the tools users compare us with: on one 12-megapixel
# photo, each operation is load + apply + save JPEG (PNG for "png save"),
# ours through COM in a script under Wine (the time measured inside the
# script), libvips' and ImageMagick's as whole native processes, all in one
# run on this machine. Prints each time (median of five), our ratio to
# each tool, and the geometric mean of the ratios.
#
#   bash bench/vs_libvips.sh   (after tools/main.sh; installs libvips-tools,
#                               imagemagick and bc for itself: benchmark
#                               tools only, never needed by the tests)
set -u
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/bench/lib.sh"
bench_setup vs-libvips libvips-tools imagemagick bc
photo="$work/photo.jpg"
bench_photo "$photo" -quality 92

ops=(brighten zoom rotate90 rotate30 blur crop mirror hue png)
vips_cmd() {
  local o="$work/vips-$1"
  case "$1" in
    brighten) echo vips linear "$photo" "$o.jpg" 1 20 ;;
    zoom) echo vips resize "$photo" "$o.jpg" 0.5 ;;
    rotate90) echo vips rot "$photo" "$o.jpg" d90 ;;
    rotate30) echo vips rotate "$photo" "$o.jpg" 30 ;;
    blur) echo vips gaussblur "$photo" "$o.jpg" 2 ;;
    crop) echo vips crop "$photo" "$o.jpg" 1000 750 2000 1500 ;;
    mirror) echo vips flip "$photo" "$o.jpg" horizontal ;;
    png) echo vips copy "$photo" "$o.png" ;;
  esac
}
magick_cmd() {
  local o="$work/magick-$1"
  case "$1" in
    brighten) echo convert "$photo" -evaluate add 7.843% "$o.jpg" ;;
    zoom) echo convert "$photo" -resize 50% "$o.jpg" ;;
    rotate90) echo convert "$photo" -rotate 90 "$o.jpg" ;;
    rotate30) echo convert "$photo" -rotate 30 "$o.jpg" ;;
    blur) echo convert "$photo" -blur 0x2 "$o.jpg" ;;
    crop) echo convert "$photo" -crop 2000x1500+1000+750 "$o.jpg" ;;
    mirror) echo convert "$photo" -flop "$o.jpg" ;;
    hue) echo convert "$photo" -modulate 100,100,166.667 "$o.jpg" ;;
    png) echo convert "$photo" "$o.png" ;;
  esac
}

script="$(qb_winpath "$QB_ROOT/bench/scripts/one_operation.js")"
printf '%-9s %8s %8s %8s %9s %9s\n' operation Quillbox libvips Magick "/libvips" "/Magick"
logv=0; nv=0; logm=0; nm=0
for op in "${ops[@]}"; do
  ours=$(wine cscript //nologo "$script" "$(qb_winpath "$photo")" "$(qb_winpath "$work")" "$op" | tr -d '\r')
  v=-; m=-
  cmd=$(vips_cmd "$op"); [ -n "$cmd" ] && v=$(seconds $cmd)
  cmd=$(magick_cmd "$op"); [ -n "$cmd" ] && m=$(seconds $cmd)
  rv=-; rm_=-
  if [[ "$v" != - ]]; then
    rv=$(echo "scale=3; $ours / $v" | bc); logv=$(echo "$logv + l($rv)" | bc -l); nv=$((nv + 1))
  fi
  if [[ "$m" != - ]]; then
    rm_=$(echo "scale=3; $ours / $m" | bc); logm=$(echo "$logm + l($rm_)" | bc -l); nm=$((nm + 1))
  fi
  printf '%-9s %8s %8s %8s %9s %9s\n' "$op" "$ours" "$v" "$m" "$rv" "$rm_"
done
[ "$nv" -gt 0 ] && printf 'geometric mean of the ratios to libvips: %.3f\n' "$(echo "e($logv / $nv)" | bc -l)"
[ "$nm" -gt 0 ] && printf 'geometric mean of the ratios to ImageMagick: %.3f\n' "$(echo "e($logm / $nm)" | bc -l)"
ls -l "$work"/ours-png.png "$work"/vips-png.png "$work"/magick-png.png 2>/dev/null | awk '{ print $5, $9 }'
