# shellcheck shell=bash
# What the benchmark scripts share: the build's names (tools/lib.sh), the
# tools a benchmark compares with (installed here, never by the tests), the
# Wine prefix of the build, a work folder, the 12-megapixel photo and a
# timer of whole commands. A script sets QB_ROOT and sources this file.
set -u
. "$QB_ROOT/tools/lib.sh"
export WINEPREFIX="$QB_WIN32/wineprefix" WINEARCH=win32 WINEDEBUG=-all
# Timed runs of a command after the one that warms it up.
bench_runs=5

# bench_setup FOLDER PACKAGE...: installs the Debian packages that are
# missing and makes $QB_BUILD/out/FOLDER the work folder, as $work.
bench_setup() {
  work="$QB_BUILD/out/$1"
  shift
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null
  done
  mkdir -p "$work"
}

# bench_photo FILE [OPTION...]: the bundled photo enlarged to 4000 x 3000
# with a little grain, so that it compresses like a camera's picture rather
# than a smooth upscale, written once as FILE (its type from the name;
# ImageMagick's options before the name, such as -quality 92).
bench_photo() {
  local file="$1"
  shift
  [ -s "$file" ] || convert "$QB_GOEXIF/sample1.jpg" -resize '4000x3000!' -seed 7 -attenuate 0.4 \
    +noise Gaussian "$@" "$file"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# seconds COMMAND...: the median wall-clock seconds of $bench_runs runs
# after one to warm up; "-" when the command fails.
seconds() {
  "$@" >/dev/null 2>&1 || { echo "-"; return; }
  local run start end
  for ((run = 0; run < bench_runs; ++run)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo "scale=4; ($end - $start) / 1000000000" | bc
  done | median
}
