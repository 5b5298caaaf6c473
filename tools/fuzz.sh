#!/bin/bash
# Builds the fuzz targets (clang, libFuzzer with ASan and UBSan, in
# build/fuzz) and runs them one after another on one core.
#
#   fuzz.sh [--runs N | --seconds S] [--smoke] [TARGET...]
#
# --smoke      each target runs a fixed 10000 executions (or --runs N) from
#              its seeds and regression files, in a fresh corpus; this is
#              what the test command runs
# --runs N     N executions a target, growing build/fuzz/corpus/TARGET
# --seconds S  S seconds a target, growing build/fuzz/corpus/TARGET
#
# The default is --seconds 60 over every target. Seeds are made from the
# test data (the camera files, the example pictures, the registry-script
# templates, pictures written by ImageMagick, the HEIC and AVIF test
# files). A target's findings go to build/fuzz/artifacts/TARGET/; each one
# fixed is kept as fuzz/regressions/TARGET/NAME, which the unit tests replay. Prints one
# line per target (executions, coverage cov and features ft as libFuzzer
# counts them, corpus size, ok or the finding) and closes with
# "N passed, N failed".
set -u
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/tools/lib.sh"

mode=seconds
amount=60
smoke=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) mode=runs; amount="$2"; shift 2 ;;
    --seconds) mode=seconds; amount="$2"; shift 2 ;;
    --smoke) smoke=1; mode=runs; amount=10000; shift ;;
    -h|--help) sed -n '2,21p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done

QB_FUZZ_BUILD="$QB_BUILD/fuzz"
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed"
  echo "0 passed, 1 failed"
  exit 1
fi
qb_log "fuzz build"
if ! { CC=clang CXX=clang++ cmake -S "$QB_ROOT" -B "$QB_FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DQB_FUZZ=ON >/dev/null && cmake --build "$QB_FUZZ_BUILD" -j"$(nproc)" --target qb_fuzz >"$QB_FUZZ_BUILD.log" 2>&1; }; then
  tail -20 "$QB_FUZZ_BUILD.log"
  echo "0 passed, 1 failed"
  exit 1
fi
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$QB_ROOT"/fuzz/*.cpp; do
    name="$(basename "$f" .cpp)"
    case "$name" in fuzz_main|fuzz_support) ;; *) targets+=("$name") ;; esac
  done
fi

# ---- seeds ----------------------------------------------------------------
seeds="$QB_FUZZ_BUILD/seeds"
make_seeds() {
  qb_fetch_samples || return 1
  rm -rf "$seeds"
  local im="$seeds/im" f
  mkdir -p "$im"
  local src="$QB_ROOT/examples/frame.png"
  # Small pictures of every form the decoders read, at an odd width; one
  # ImageMagick run each, as its settings carry over between writes.
  convert-im6.q16 "$src" -resize 13x9! "$im/rgb.ppm" || return 1
  local out options
  while read -r out options; do
    # shellcheck disable=SC2086
    convert-im6.q16 "$im/rgb.ppm" $options "$im/$out" >/dev/null 2>&1 || { echo "fuzz: cannot write $out"; return 1; }
  done <<'LIST'
rgb.png
rgb.tga
baseline.jpg
palette.gif -colors 30
progressive.jpg -interlace JPEG
cmyk.jpg -colorspace CMYK
interlaced.png -interlace PNG
rgb16.png -depth 16 -define png:format=png48
rgb16.ppm -depth 16
rgba.png -alpha set -channel A -evaluate set 50% +channel -define png:format=png32
rgba.tga -alpha set -channel A -evaluate set 50% +channel
grey.png -colorspace Gray
grey.pgm -colorspace Gray
grey.jpg -colorspace Gray
grey.tga -colorspace Gray
palette.png -colors 40 -define png:format=png8
bmp24.bmp -type TrueColor -define bmp:format=bmp3
bmp8.bmp -colors 40 -type Palette -compress None -define bmp:format=bmp3
rle8.bmp -colors 40 -type Palette -compress RLE -define bmp:format=bmp3
rle.tga -compress RLE
bmp4.bmp -colors 12 -type Palette -compress None -define bmp:format=bmp3
bmp1.bmp -monochrome -type Bilevel -define bmp:format=bmp3
bmp16.bmp -define bmp:subtype=RGB565
bmp32v5.bmp -alpha set -channel A -evaluate set 50% +channel -type TrueColorAlpha
core.bmp -type TrueColor -define bmp:format=bmp2
lossy.webp -quality 80
lossless.webp -define webp:lossless=true
alpha.webp -alpha set -channel A -evaluate set 50% +channel -define webp:lossless=true
rgb.tif -compress None
lzw.tif -compress LZW
deflate-tiled.tif -compress Zip -define tiff:tile-geometry=16x16
packbits-grey.tif -colorspace Gray -compress RLE
jpeg.tif -compress JPEG
palette.tif -colors 12 -type Palette -compress LZW
cmyk.tif -colorspace CMYK
rgb16.tif -depth 16 -compress Zip
bilevel.tif -monochrome -compress Group4
LIST
  convert-im6.q16 "$im/rgb.ppm" "$im/grey.pgm" -loop 0 "$im/anim.gif" >/dev/null 2>&1
  img2webp -lossless "$im/rgb.png" "$im/palette.png" -o "$im/anim.webp" >/dev/null 2>&1
  cjpeg -arithmetic -progressive "$im/rgb.ppm" >"$im/arithmetic.jpg" 2>/dev/null
  # Camera data in every container that carries it, from the goexif photo
  # cut small: HEIC and AVIF (heif-enc), WebP (cwebp), PNG and TIFF
  # (exiftool writes the block into them).
  local ex="$seeds/exif_containers"
  mkdir -p "$ex"
  convert-im6.q16 "$QB_GOEXIF/sample1.jpg" -resize 24x18! "$im/small-exif.jpg" >/dev/null 2>&1 &&
    exiftool -q -overwrite_original -tagsfromfile "$QB_GOEXIF/sample1.jpg" -exif:all -Orientation#=6 "$im/small-exif.jpg" &&
    cwebp -quiet -metadata exif "$im/small-exif.jpg" -o "$ex/exif.webp" &&
    convert-im6.q16 "$im/small-exif.jpg" -strip "$ex/bare.png" && convert-im6.q16 "$im/small-exif.jpg" -strip "$ex/bare.tif" &&
    exiftool -q -tagsfromfile "$im/small-exif.jpg" -exif:all -o "$ex/exif.png" "$ex/bare.png" &&
    exiftool -q -tagsfromfile "$im/small-exif.jpg" -exif:all -o "$ex/exif.tif" "$ex/bare.tif" ||
    { echo "fuzz: cannot write the camera-data seeds"; return 1; }
  # heif-enc comes with libheif-examples, where it is installed.
  if command -v heif-enc >/dev/null; then
    heif-enc -q 30 "$im/small-exif.jpg" -o "$ex/exif.heic" >/dev/null 2>&1 &&
      heif-enc -A -q 30 "$im/small-exif.jpg" -o "$ex/exif.avif" >/dev/null 2>&1 &&
      python3 "$QB_ROOT/tests/scripts/heif_irot.py" "$ex/exif.heic" "$ex/turned.heic" 1 ||
      { echo "fuzz: cannot write the HEIF seeds"; return 1; }
  fi
  rm -f "$im/small-exif.jpg" "$ex/bare.png" "$ex/bare.tif"
  python3 - "$seeds" "$QB_GOEXIF" "$QB_ROOT" <<'EOF'
import os, struct, sys, glob
seeds, goexif, root = sys.argv[1:4]
im = os.path.join(seeds, 'im')
def put(target, name, data):
    d = os.path.join(seeds, target); os.makedirs(d, exist_ok=True)
    open(os.path.join(d, name), 'wb').write(data)
def read(p): return open(p, 'rb').read()
def app1(jpeg):
    pos = 2
    while pos + 4 <= len(jpeg) and jpeg[pos] == 0xFF:
        marker, length = jpeg[pos + 1], struct.unpack('>H', jpeg[pos + 2:pos + 4])[0]
        if marker == 0xE1 and jpeg[pos + 4:pos + 10] == b'Exif\0\0':
            return jpeg[pos + 2:pos + 2 + length]
        if marker == 0xDA: break
        pos += 2 + length
    return None
small = read(os.path.join(im, 'baseline.jpg'))
for p in sorted(glob.glob(os.path.join(goexif, '*.jpg')) + glob.glob(os.path.join(goexif, '*', '*.jpg'))):
    name, data = os.path.basename(p), read(p)[:65536]
    put('jpeg_exif', name, data)
    segment = app1(data)
    if segment:
        put('exif_block', name, segment[8:])
        put('splice', name, struct.pack('>H', len(segment)) + segment + small)
put('decode_jpeg', 'sample1.jpg', read(os.path.join(goexif, 'sample1.jpg'))[:65536])
dibs = {}
for p in sorted(glob.glob(os.path.join(im, '*'))):
    name, data = os.path.basename(p), read(p)
    ext = name.rsplit('.', 1)[1]
    target = {'jpg': 'decode_jpeg', 'png': 'decode_png', 'bmp': 'decode_bmp', 'gif': 'decode_gif',
              'tga': 'decode_tga', 'ppm': 'decode_pnm', 'pgm': 'decode_pnm',
              'webp': 'decode_webp', 'tif': 'decode_tiff'}[ext]
    put(target, name, data)
    if ext == 'bmp' and 'rle' not in name:
        dibs[name] = data[14:]
# HEIC and AVIF: heif-enc's files of the decoder's test (8 and 10 bits,
# alpha, a 2 x 2 grid, rotations; HEVC and AV1).
for p in sorted(glob.glob(os.path.join(root, 'tests', 'unit', 'heif', '*.heic')) +
                glob.glob(os.path.join(root, 'tests', 'unit', 'heif', '*.avif'))):
    put('decode_heif', os.path.basename(p), read(p))
for name, dib in dibs.items():
    put('dib', name, dib)
    put('geometry', name, struct.pack('>HHBI', 16 + 21, 16 + 10, 1, 30) + dib)
    put('blur', name, struct.pack('>I', 5) + dib)
    put('modifier_kernels', name, struct.pack('>iiii', 90, 10, -20, 4000) + dib)
base, over, mask = dibs['bmp24.bmp'], dibs['bmp8.bmp'], dibs['bmp1.bmp']
put('overlay', 'palette-over-24', struct.pack('>iiHH', 3, -2, len(base), len(over)) + base + over + mask)
put('overlay', 'frames', struct.pack('>iiHH', 0, 0, len(base), len(dibs['bmp4.bmp'])) + base + dibs['bmp4.bmp'] + dibs['bmp32v5.bmp'])
def card(records):
    player = b'MZ' + bytes(62)
    body = struct.pack('<I', len(records))
    for name, data in records:
        body += name.encode().ljust(255, b'\0') + struct.pack('<I', len(data)) + data
    return player + body + struct.pack('<I', len(player)) + b'Compressed\0'
put('card', 'two-records', card([('photo.jpg', small), ('note.txt', b'A note.\r\n')]))
put('card', 'one-record', card([('photo.jpg', small[:100])]))
for p in glob.glob(os.path.join(root, 'server', 'scripts', '*.rgs.in')):
    text = read(p)
    put('registry_script', os.path.basename(p), text)
    put('registry_script', os.path.basename(p) + '.filled',
        text.replace(b'@CLASS@', b'Bright').replace(b'@CLSID@', b'11111111-2222-3333-4444-555555555555')
            .replace(b'@LIBID@', b'66666666-7777-8888-9999-000000000000'))
EOF
}

if [ ! -d "$seeds/decode_tiff" ] || [ ! -d "$seeds/decode_heif" ] || [ ! -d "$seeds/card" ] ||
   [ ! -d "$seeds/exif_containers" ]; then
  qb_log "fuzz seeds"
  make_seeds || { echo "fuzz: the seeds could not be made"; echo "0 passed, 1 failed"; exit 1; }
fi

# ---- runs -----------------------------------------------------------------
passed=0
failed=0
for t in "${targets[@]}"; do
  binary="$QB_FUZZ_BUILD/fuzz_$t"
  if [ ! -x "$binary" ]; then
    echo "fuzz $t: no such target"
    failed=$((failed + 1))
    continue
  fi
  artifacts="$QB_FUZZ_BUILD/artifacts/$t"
  mkdir -p "$artifacts" "$seeds/$t"
  if [ $smoke -eq 1 ]; then
    corpus="$(mktemp -d)"
  else
    corpus="$QB_FUZZ_BUILD/corpus/$t"
    mkdir -p "$corpus"
  fi
  options=(-max_len=65536 -timeout=10 -rss_limit_mb=4096 -malloc_limit_mb=4096 -print_final_stats=1
    -artifact_prefix="$artifacts/")
  lsan=""
  case "$t" in
    jpeg_exif|exif_block|splice|decode_jpeg) options+=(-dict="$QB_ROOT/fuzz/jpeg_exif.dict") ;;
    card) options+=(-dict="$QB_ROOT/fuzz/card.dict") ;;
    # A leak inside Debian's libdav1d on damaged AV1 data is not ours.
    decode_heif) lsan="suppressions=$QB_ROOT/fuzz/decode_heif.lsan" ;;
  esac
  if [ "$mode" = runs ]; then options+=(-runs="$amount"); else options+=(-max_total_time="$amount"); fi
  dirs=("$corpus" "$seeds/$t")
  [ -d "$QB_ROOT/fuzz/regressions/$t" ] && dirs+=("$QB_ROOT/fuzz/regressions/$t")
  log="$QB_FUZZ_BUILD/$t.log"
  LSAN_OPTIONS="$lsan" "$binary" "${options[@]}" "${dirs[@]}" >"$log" 2>&1 </dev/null
  rc=$?
  [ $smoke -eq 1 ] && rm -rf "$corpus"
  execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" | grep -oE '[0-9]+$' | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+')
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+')
  units=$(grep -oE 'corp: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+')
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
    echo "fuzz $t: ${execs:-?} executions, cov ${cov:-?}, ft ${ft:-?}, corpus ${units:-?}: ok"
  else
    failed=$((failed + 1))
    finding=$(grep -E '^==[0-9]+==ERROR|runtime error|fuzz check failed|ERROR: libFuzzer' "$log" | head -1)
    echo "fuzz $t: ${execs:-?} executions, cov ${cov:-?}, ft ${ft:-?}: FAILED: ${finding:-exit $rc} (log $log)"
    grep -E 'Test unit written to' "$log" | head -1
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
