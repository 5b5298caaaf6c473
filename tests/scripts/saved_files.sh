#!/bin/bash
# Files written by Quillbox, checked with independent tools: the example
# script saves the edited sample photo as JPEG (camera data kept) and PNG;
# djpeg must decode the JPEG, exiftool must see the source's camera data in
# it, and the file must open with one EXIF segment right after its
# start-of-image marker. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine
# prefix with Quillbox installed (the test harness sets them up).
set -u
passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $what"
  fi
}

photo="$QB_GOEXIF/sample1.jpg"
out="$QB_BUILD/out/saved-files"
rm -rf "$out"
mkdir -p "$out"
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }
wine cscript //nologo "$(winpath "$QB_ROOT/examples/road.vbs")" "$(winpath "$photo")" "$(winpath "$out")" \
  >"$out/road.log" 2>&1 </dev/null
jpeg="$out/road-result.jpg"
png="$out/road-result.png"

check "the example wrote the JPEG" test -s "$jpeg"
check "the example wrote the PNG" test -s "$png"
check "djpeg decodes the spliced JPEG" djpeg -outfile /dev/null "$jpeg"
check "the JPEG opens with FF D8 FF E1 and Exif" \
  test "$(head -c 10 "$jpeg" | od -An -tx1 | tr -d ' \n' | cut -c1-8,13-20)" = "ffd8ffe145786966"
tags=(-Make -Model -DateTimeOriginal -ExposureTime -FNumber -FocalLength -ISO -ExifVersion)
check "exiftool sees the source's camera data" \
  test "$(exiftool -n -s3 "${tags[@]}" "$photo")" = "$(exiftool -n -s3 "${tags[@]}" "$jpeg")"
check "exiftool finds one EXIF segment" \
  test "$(exiftool -v1 "$jpeg" | grep -c '^JPEG APP1')" = 1
check "the JPEG is 500 x 375" test "$(exiftool -n -s3 -ImageWidth -ImageHeight "$jpeg" | tr '\n' ' ')" = "500 375 "
check "the PNG is 500 x 375" test "$(exiftool -n -s3 -ImageWidth -ImageHeight "$png" | tr '\n' ' ')" = "500 375 "
check "the example read the camera data back" grep -q "NIKON CORPORATION NIKON D2H" "$out/road.log"

echo "$passed passed, $failed failed"
exit "$failed"
