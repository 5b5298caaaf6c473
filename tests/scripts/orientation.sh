#!/bin/bash
# EXIF orientation end to end: copies of the sample photo tagged 1 to 8 by
# exiftool (and 0 and 9, which read as 1), and a pattern stored as a camera
# stores it for each orientation. Orientation reads the tag, a modifier's
# result carries it (late-bound), AutoOrient turns the pattern back into
# the pattern, and every save with the camera data writes the picture's
# orientation: the original tag before AutoOrient, 1 after, with Make,
# Model and DateTimeOriginal intact. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and
# the Wine prefix with Quillbox installed.
. "$QB_ROOT/tests/scripts/lib.sh"
tag() { exiftool -n -s3 -Orientation "$1"; }
run() {  # run INPUT BASE: the helper's output in BASE.log
  run_cscript "$2.log" "$QB_ROOT/tests/scripts/orientation/turn.vbs" "$(qb_winpath "$1")" "$(qb_winpath "$2")"
}
said() { grep -qx "$2" "$1.log"; }

photo="$QB_GOEXIF/sample1.jpg"
out_folder orientation
camera=(-Make -Model -DateTimeOriginal)

# The photo: the same pixels under each tag. Upright sizes swap for 5..8.
for n in 0 1 2 3 4 5 6 7 8 9; do
  input="$out/photo$n.jpg"
  cp "$photo" "$input"
  exiftool -q -n -Orientation=$n -overwrite_original "$input"
  want=$n size=500x375 upright=500x375
  [ $n -lt 1 ] || [ $n -gt 8 ] && want=1
  [ $want -ge 5 ] && upright=375x500
  run "$input" "$out/photo$n"
  check "photo $n: Orientation reads $want" said "$out/photo$n" "loaded=$want $size"
  check "photo $n: a modifier's result carries $want" said "$out/photo$n" "result=$want"
  check "photo $n: the result turns upright" said "$out/photo$n" "result-turned=1 $upright"
  check "photo $n: AutoOrient turns it upright" said "$out/photo$n" "turned=1 $upright"
  check "photo $n: saved unturned, the tag is $want" test "$(tag "$out/photo$n-kept.jpg")" = "$want"
  for saved in "$out/photo$n-upright.jpg" "$out/photo$n-savefile.jpg" "$input"; do
    check "photo $n: $(basename "$saved") upright says 1" test "$(tag "$saved")" = 1
    check "photo $n: $(basename "$saved") keeps the camera data" \
      test "$(exiftool -s3 "${camera[@]}" "$photo")" = "$(exiftool -s3 "${camera[@]}" "$saved")"
  done
done

# The pattern, stored for orientation n as the inverse of the viewer's turn;
# after AutoOrient each must be the pattern again (within JPEG's error: the
# blocks are 16-pixel aligned and far apart in colour).
convert -size 64x48 xc:white -fill red -draw "rectangle 0,0 31,15" -fill blue \
  -draw "rectangle 32,32 63,47" -fill lime -draw "rectangle 0,32 15,47" "$out/pattern.png"
inverse=("" "" "-flop" "-rotate 180" "-flip" "-transpose" "-rotate 270" "-transverse" "-rotate 90")
for n in 1 2 3 4 5 6 7 8; do
  input="$out/pattern$n.jpg"
  # shellcheck disable=SC2086
  convert "$out/pattern.png" ${inverse[$n]} -quality 100 -sampling-factor 1x1 "$input"
  exiftool -q -n -Orientation=$n -overwrite_original "$input"
  run "$input" "$out/pattern$n"
  check "pattern $n: turned upright at 64 x 48" said "$out/pattern$n" "turned=1 64x48"
  check "pattern $n: the upright pixels are the pattern" \
    test "$(compare -metric AE -fuzz 12% "$out/pattern$n.png" "$out/pattern.png" null: 2>&1)" = 0
done
# The comparison tells a mirrored pattern from the pattern.
check "a mirrored pattern differs" \
  test "$(convert "$out/pattern.png" -flop png:- | compare -metric AE -fuzz 12% - "$out/pattern.png" null: 2>&1)" != 0

finish
