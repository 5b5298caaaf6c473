#!/bin/bash
# The example scripts run on the bundled photo as a user runs them: each
# writes its PNG, of the size it should have, which exiftool reads. Needs
# QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine prefix with Quillbox installed
# (the test harness sets them up).
. "$QB_ROOT/tests/scripts/lib.sh"

out_folder examples
for example in blur zoom rotate caption watermark frame adjust_color sharpen red_eye mirror crop; do
  run_cscript "$out/$example.log" "$QB_ROOT/examples/$example.vbs" "$(qb_winpath "$QB_GOEXIF/sample1.jpg")" \
    "$(qb_winpath "$out")"
  check "$example.vbs ends well" test $? -eq 0
done

size() { exiftool -n -s3 -ImageWidth -ImageHeight "$1" | tr '\n' ' '; }
for expected in "blur-result 500 375" "zoom-half 250 187" "zoom-double 1000 750" "rotate-result 621 575" \
  "caption-result 500 375" "watermark-result 500 375" "frame-result 500 375" "hue120 500 375" \
  "grey 500 375" "sharpened 500 375" "red_eye 500 375" "mirrored 500 375" "flipped 500 375" \
  "cropped 250 187"; do
  set -- $expected
  check "$1.png is $2 x $3" test "$(size "$out/$1.png")" = "$2 $3 "
done
check "zoom.vbs got the size limit's error" grep -q "error 80020009 from Quillbox.Zoom.1" "$out/zoom.log"

finish
