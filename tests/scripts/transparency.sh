#!/bin/bash
# Pictures with alpha through a script, checked with ImageMagick: a logo on
# a transparent background (drawn here with ImageMagick) is laid on the
# sample photo through its own alpha, once with itself as AddPic's mask and
# once without a mask, and both must match ImageMagick's composite of the
# same files; the logo saved as PNG, TIFF and WebP (lossless and lossy) must
# read back in ImageMagick with its alpha intact, and as JPEG as it looks on
# white; a frame with a soft transparent hole must let the photo through
# its hole. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine prefix with
# Quillbox installed (the test harness sets them up). The pictures stay in
# build/out/transparency to be looked at.
. "$QB_ROOT/tests/scripts/lib.sh"
im() { convert-im6.q16 "$@"; }
# The number of pixels of two pictures that differ in a channel (alpha
# included), as ImageMagick counts them.
differing() { compare-im6.q16 -metric AE "$1" "$2" null: 2>&1; }
# The peak signal-to-noise ratio of two pictures in dB, "inf" when equal.
psnr() { compare-im6.q16 -metric PSNR "$1" "$2" null: 2>&1; }
at_least() { [ "$1" = inf ] || awk -v v="$1" -v m="$2" 'BEGIN { exit !(v >= m) }'; }

photo="$QB_GOEXIF/sample1.jpg"
out_folder transparency

# The logo: a translucent red disc in a blue ring of half alpha, and a word
# when a font is at hand; everything else transparent.
text=()
for font in /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf /usr/share/wine/fonts/tahomabd.ttf; do
  [ -f "$font" ] && text=(-stroke none -fill '#1a237e' -font "$font" -pointsize 56 -annotate +140+95 QB) && break
done
logo="$out/logo.png"
im -size 260x150 xc:none -fill 'rgba(230,40,30,0.85)' -draw 'circle 75,75 75,15' \
  -fill none -stroke 'rgba(20,60,200,0.5)' -strokewidth 10 -draw 'circle 75,75 75,4' "${text[@]}" \
  -depth 8 -define png:color-type=6 "$logo"

# The frame: gold, the size of the photo, with a rounded hole that fades
# from opaque to clear over a few pixels.
frame="$out/frame.png"
im -size 500x375 xc:'#c8a040' \( -size 500x375 xc:white -fill black -draw 'roundrectangle 40,40 459,334 30,30' \
  -blur 0x4 \) -alpha off -compose CopyOpacity -composite -depth 8 -define png:color-type=6 "$frame"

cat >"$out/transparency.vbs" <<'EOF'
Option Explicit
Dim photo, logo, folder, picture, add, laid, own, mark, zoom, rotate, frame
photo = WScript.Arguments(0)
logo = WScript.Arguments(1)
folder = WScript.Arguments(2) & "\"
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo
' The logo as its own mask: its alpha is the mask's grey.
Set add = CreateObject("Quillbox.AddPic.1")
add.X = 40
add.Y = 30
add.LoadPicFile logo
add.LoadMaskFile logo
Set laid = add.Apply(picture)
laid.SaveAs folder & "laid", ".png"
' No mask: the logo is laid by its own alpha.
Set add = CreateObject("Quillbox.AddPic.1")
add.X = 40
add.Y = 30
add.LoadPicFile logo
Set own = add.Apply(picture)
own.SaveAs folder & "own", ".png"
Set mark = CreateObject("Quillbox.VuPicture.1")
mark.LoadFile logo
WScript.Echo "bits " & mark.BitCount
mark.SaveAs folder & "saved", ".png"
mark.SaveAs folder & "saved", ".tif"
mark.SaveAs folder & "flat", ".jpg"
mark.SaveAs folder & "flat", ".bmp"
mark.Quality = 100
mark.SaveAs folder & "lossless", ".webp"
mark.Quality = 80
mark.SaveAs folder & "lossy", ".webp"
Set zoom = CreateObject("Quillbox.Zoom.1")
zoom.Width = 520
zoom.Height = 300
zoom.Apply(mark).SaveAs folder & "zoomed", ".png"
Set rotate = CreateObject("Quillbox.RotateModifier.1")
rotate.Angle = 30
rotate.Apply(mark).SaveAs folder & "rotated", ".png"
Set frame = CreateObject("Quillbox.Frame.1")
frame.LoadFrameFile WScript.Arguments(3)
frame.Apply(picture).SaveAs folder & "framed", ".png"
EOF
log="$out/transparency.log"
run_cscript "$log" "$out/transparency.vbs" "$(qb_winpath "$photo")" "$(qb_winpath "$logo")" \
  "$(qb_winpath "$out")" "$(qb_winpath "$frame")"

check "the logo loads as a 32-bit picture" grep -q "bits 32" "$log"
for f in laid.png own.png framed.png saved.png saved.tif flat.jpg flat.bmp lossless.webp lossy.webp zoomed.png rotated.png; do
  check "the script wrote $f" test -s "$out/$f"
done

# ImageMagick lays the same logo on its own decode of the photo.
im "$photo" "$logo" -geometry +40+30 -composite -depth 8 "$out/reference.png"
check "the logo laid through its mask matches ImageMagick's composite (PSNR $(psnr "$out/laid.png" "$out/reference.png"))" \
  at_least "$(psnr "$out/laid.png" "$out/reference.png")" 40
check "without a mask the logo is laid by its own alpha, as with it" test "$(differing "$out/laid.png" "$out/own.png")" = 0

# Alpha as ImageMagick reads each saved file.
im "$logo" -alpha extract "$out/alpha.pgm"
for f in saved.png saved.tif lossless.webp lossy.webp; do
  im "$out/$f" -alpha extract "$out/$f.alpha.pgm"
  check "$f keeps the logo's alpha exactly" test "$(differing "$out/alpha.pgm" "$out/$f.alpha.pgm")" = 0
done
check "the PNG is the logo, pixel for pixel" test "$(differing "$logo" "$out/saved.png")" = 0
check "the TIFF is the logo, pixel for pixel" test "$(differing "$logo" "$out/saved.tif")" = 0
# WebP may change the colour of a wholly transparent pixel: compared on black.
im "$logo" -background black -alpha remove "$out/on-black.png"
im "$out/lossless.webp" -background black -alpha remove "$out/lossless-on-black.png"
im "$out/lossy.webp" -background black -alpha remove "$out/lossy-on-black.png"
check "the lossless WebP shows the logo's colours exactly" \
  test "$(differing "$out/on-black.png" "$out/lossless-on-black.png")" = 0
check "the lossy WebP shows the logo's colours closely (PSNR $(psnr "$out/on-black.png" "$out/lossy-on-black.png"))" \
  at_least "$(psnr "$out/on-black.png" "$out/lossy-on-black.png")" 30
# JPEG and BMP: the logo as it looks on white, without alpha.
im "$logo" -background white -alpha remove -alpha off "$out/on-white.png"
# (ImageMagick's own flattening rounds a level the other way now and then.)
check "the BMP is the logo on white (PSNR $(psnr "$out/on-white.png" "$out/flat.bmp"))" \
  at_least "$(psnr "$out/on-white.png" "$out/flat.bmp")" 45
check "the JPEG is the logo on white (PSNR $(psnr "$out/on-white.png" "$out/flat.jpg"))" \
  at_least "$(psnr "$out/on-white.png" "$out/flat.jpg")" 30
check "the JPEG and BMP carry no alpha" test "$(im "$out/flat.bmp" -format '%A' info:)" = False
# Zoomed and rotated, still transparent where the logo was: the corners.
check "the zoomed logo keeps a transparent corner" \
  test "$(im "$out/zoomed.png" -format '%[fx:p{0,0}.a]' info:)" = 0
check "the rotated logo's uncovered corners are transparent" \
  test "$(im "$out/rotated.png" -format '%[fx:p{0,0}.a]' info:)" = 0

# The frame has the photo's size, so nothing is stretched: ImageMagick's
# composite is the reference.
im "$photo" "$frame" -composite -depth 8 "$out/framed-reference.png"
check "the frame lets the photo through its soft hole (PSNR $(psnr "$out/framed.png" "$out/framed-reference.png"))" \
  at_least "$(psnr "$out/framed.png" "$out/framed-reference.png")" 40

finish
