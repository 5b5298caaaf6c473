#!/bin/bash
# Loading each format through LoadFile next to the format's own
# command-line decoder, on the same 12-megapixel photo in the same run:
# dwebp for WebP, tiffinfo -D for TIFF, heif-convert for HEIC and AVIF.
# heif-convert writes a Y4M file, the cheapest output it has: libheif turns
# the decoded picture into planar RGB whatever is asked of it, as LoadFile
# has it do, and the Y4M writer only converts that back to 4:2:0 (a PNG
# would add a zlib compression that costs more than the decode). Our time
# is LoadFile's inside the process (decode_bench.exe under Wine, median of
# five); theirs is the whole native process (median of five). Prints one
# line per file: our wall-clock seconds and processor seconds, the tool's,
# and the two ratios; on a busy machine the processor time is the steadier
# measure (say which was the case when quoting the figures).
#
#   bash bench/decode_vs_tools.sh   (after tools/main.sh; installs the
#                                    tools it needs: webp, libtiff-tools,
#                                    libheif-examples, imagemagick)
set -u
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/bench/lib.sh"
bench_setup decode-bench webp libtiff-tools libheif-examples imagemagick bc

# A 4000 x 3000 photo: the bundled one enlarged, with fine grain so that it
# compresses as a camera's picture does rather than as a smooth upscale.
photo="$work/photo.ppm"
bench_photo "$photo"
files=()
make_file() {  # NAME COMMAND...
  local name="$1"; shift
  [ -s "$work/$name" ] || "$@" >/dev/null 2>&1 || { echo "cannot make $name"; return; }
  files+=("$name")
}
make_file lossy.webp cwebp -q 90 "$photo" -o "$work/lossy.webp"
make_file lossless.webp cwebp -lossless -z 1 "$photo" -o "$work/lossless.webp"
make_file deflate.tif convert "$photo" -compress Zip "$work/deflate.tif"
make_file lzw.tif convert "$photo" -compress LZW "$work/lzw.tif"
make_file jpeg.tif convert "$photo" -compress JPEG -quality 90 "$work/jpeg.tif"
if command -v heif-enc >/dev/null; then
  convert "$photo" "$work/photo.png"
  make_file photo.heic heif-enc -q 90 "$work/photo.png" -o "$work/photo.heic"
  make_file photo.avif heif-enc -A -q 90 "$work/photo.png" -o "$work/photo.avif"
fi

tool_seconds() {  # FILE
  local f="$work/$1" cmd
  case "$1" in
    *.webp) cmd=(dwebp -quiet "$f") ;;
    *.tif) cmd=(tiffinfo -D "$f") ;;
    *.heic | *.avif) cmd=(heif-convert "$f" "$work/out.y4m") ;;
  esac
  "${cmd[@]}" >/dev/null 2>&1
  local runs=() wall=() cpu=() TIMEFORMAT='%R %U %S' r w u k
  for _ in 1 2 3 4 5; do
    runs+=("$({ time "${cmd[@]}" >/dev/null 2>&1; } 2>&1)")
  done
  for r in "${runs[@]}"; do
    read -r w u k <<<"$r"
    wall+=("$w")
    cpu+=("$(echo "$u + $k" | bc)")
  done
  echo "$(printf '%s\n' "${wall[@]}" | median) $(printf '%s\n' "${cpu[@]}" | median)"
}

paths=()
for f in "${files[@]}"; do paths+=("$(qb_winpath "$work/$f")"); done
ours=$(wine "$QB_WIN32/decode_bench.exe" "${paths[@]}" | tr -d '\r')
printf '%-14s %9s %9s %9s %9s %7s %7s\n' file LoadFile cpu tool 'tool cpu' ratio 'cpu r.'
for f in "${files[@]}"; do
  line=$(grep -F "\\$f" <<<"$ours")
  read -r tool toolCpu <<<"$(tool_seconds "$f")"
  if [[ "$line" == failed* || -z "$line" ]]; then
    printf '%-14s %9s %9s %9s %9s %7s %7s\n' "$f" "failed" "-" "$tool" "$toolCpu" "-" "-"
    continue
  fi
  read -r mine mineCpu _ <<<"$line"
  printf '%-14s %9s %9s %9s %9s %7s %7s\n' "$f" "$mine" "$mineCpu" "$tool" "$toolCpu" \
    "$(echo "scale=2; $mine / $tool" | bc)" "$(echo "scale=2; $mineCpu / $toolCpu" | bc)"
done
