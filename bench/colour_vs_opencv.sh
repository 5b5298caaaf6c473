#!/bin/bash
# Colour adjustment against OpenCV's BGR -> HLS -> BGR round trip (cvtColor
# twice, into pictures allocated once) on the same pictures: "grain", the
# 4000 x 3000 photo of bench/vs_libvips.sh (the bundled photo enlarged,
# with grain added); "random", random pixels of its size; "smooth", the
# same enlargement without the grain; "sample", the bundled 500 x 375
# photo itself. Ours is the
# kernel of the shipped 32-bit DLL (colour_bench.exe, the same objects)
# under Wine; OpenCV runs natively through its Python binding. Both on one
# thread and on two, in megapixels per second of the clock (the best of
# five runs: the one the rest of a busy machine disturbed least) and per
# second of processor time (the median; Wine counts it in coarse ticks).
# Prints the walk a Hue call takes against OpenCV.
#
#   bash bench/colour_vs_opencv.sh   (after the win32 build; installs
#                                     python3-opencv for itself: a benchmark
#                                     tool only, never needed by the tests)
set -u
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/bench/lib.sh"
bench_setup vs-libvips python3-opencv imagemagick
photo="$work/photo.jpg"
# The same photo as bench/vs_libvips.sh makes.
bench_photo "$photo" -quality 92
smooth="$work/smooth.jpg"
[ -s "$smooth" ] || convert "$QB_GOEXIF/sample1.jpg" -resize '4000x3000!' -quality 92 "$smooth"
sample="$QB_GOEXIF/sample1.jpg"

ours=$(wine "$QB_WIN32/colour_bench.exe" "grain=$(qb_winpath "$photo")" "smooth=$(qb_winpath "$smooth")" \
  "sample=$(qb_winpath "$sample")" | tr -d '\r') || { echo "colour_bench failed"; exit 1; }
theirs=$(/usr/bin/python3 - "$photo" "$smooth" "$sample" <<'EOF'
import sys, time
import cv2
import numpy as np
photo = cv2.imread(sys.argv[1])
random = np.random.default_rng(1).integers(0, 256, photo.shape, dtype=np.uint8)
pictures = (("grain", photo), ("random", random), ("smooth", cv2.imread(sys.argv[2])), ("sample", cv2.imread(sys.argv[3])))
for name, source in pictures:
    hls, result = np.empty_like(source), np.empty_like(source)
    megapixels = source.shape[0] * source.shape[1] / 1e6
    for threads in (1, 2):
        cv2.setNumThreads(threads)
        walls, cpus = [], []
        for _ in range(6):  # the first warms up
            cpu, wall = time.process_time(), time.perf_counter()
            cv2.cvtColor(source, cv2.COLOR_BGR2HLS, dst=hls)
            cv2.cvtColor(hls, cv2.COLOR_HLS2BGR, dst=result)
            walls.append(time.perf_counter() - wall)
            cpus.append(time.process_time() - cpu)
        walls, cpus = sorted(walls[1:]), sorted(cpus[1:])
        print(f"{name:7s} opencv {'-':7s} {threads:7d} {megapixels / walls[0]:8.1f} {megapixels / cpus[2] if cpus[2] > 0 else 0:8.1f}")
EOF
) || { echo "OpenCV failed"; exit 1; }
echo "$ours"
echo "$theirs"
echo
echo "ours (the walk a Hue call takes: the best level, memory on its own judgement) / OpenCV, same picture and threads:"
best=$(echo "$ours" | awk '$2 == "avx2" { a = 1 } END { print a ? "avx2" : "sse2" }')
for picture in grain random smooth sample; do
  for threads in 1 2; do
    echo "$ours" | awk -v p=$picture -v t=$threads -v w=$best '$1 == p && $2 == w && $3 == "auto" && $4 == t { print $5, $6 }' |
      while read -r wall cpu; do
        echo "$theirs" | awk -v p=$picture -v t=$threads -v w="$wall" -v c="$cpu" -v l=$best \
          '$1 == p && $4 == t { printf "%-7s %d thread(s) %s: %.2fx by the clock", p, t, l, w / $5
                                if (c > 0 && $6 > 0) printf ", %.2fx by processor time", c / $6
                                printf "\n" }'
      done
  done
done
