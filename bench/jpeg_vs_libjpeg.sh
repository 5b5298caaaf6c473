#!/bin/bash
# JPEG load and save of a 12-megapixel photo against libjpeg-turbo on one
# thread, in one run: LoadFile and SaveAs through COM under Wine
# (jpeg_bench.exe, the time inside the process, median of seven) next to
# djpeg and cjpeg at the same quality (90) as whole native processes
# (median of seven). The photo is saved by cjpeg twice: without restart
# markers and with one at every MCU row, the layout that loads in bands.
# Prints each time and our ratio to libjpeg-turbo's.
#
#   bash bench/jpeg_vs_libjpeg.sh   (after tools/main.sh; installs
#                                    libjpeg-turbo-progs, imagemagick and
#                                    bc: benchmark tools only)
set -u
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/bench/lib.sh"
bench_setup jpeg-bench libjpeg-turbo-progs imagemagick bc
bench_runs=7

# A 4000 x 3000 photo: the bundled one enlarged, with fine grain so that it
# compresses as a camera's picture does rather than as a smooth upscale.
photo="$work/photo.ppm"
bench_photo "$photo"
[ -s "$work/plain.jpg" ] || cjpeg -quality 90 -outfile "$work/plain.jpg" "$photo"
[ -s "$work/restart.jpg" ] || cjpeg -quality 90 -restart 1 -outfile "$work/restart.jpg" "$photo"


ours=$(wine "$QB_WIN32/jpeg_bench.exe" "$(qb_winpath "$work")" \
  "$(qb_winpath "$work/plain.jpg")" "$(qb_winpath "$work/restart.jpg")" | tr -d '\r')
cjpeg_time=$(seconds cjpeg -quality 90 -outfile /dev/null "$photo")
printf '%-12s %8s %8s %7s %8s %8s %7s\n' file load djpeg ratio save cjpeg ratio
for f in plain.jpg restart.jpg; do
  line=$(grep -F "\\$f" <<<"$ours")
  djpeg_time=$(seconds djpeg -outfile /dev/null "$work/$f")
  if [[ -z "$line" || "$line" == failed* ]]; then
    printf '%-12s %8s %8s\n' "$f" failed "$djpeg_time"
    continue
  fi
  read -r load save _ <<<"$line"
  printf '%-12s %8s %8s %7s %8s %8s %7s\n' "$f" "$load" "$djpeg_time" "$(echo "scale=2; $load / $djpeg_time" | bc)" \
    "$save" "$cjpeg_time" "$(echo "scale=2; $save / $cjpeg_time" | bc)"
done
