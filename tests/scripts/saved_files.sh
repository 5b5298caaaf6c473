#!/bin/bash
# Files written by Quillbox, checked with independent tools: the example
# script saves the edited sample photo as JPEG (camera data kept) and PNG;
# djpeg must decode the JPEG, exiftool must see the source's camera data in
# it, and the file must open with one EXIF segment right after its
# start-of-image marker. A copy of the photo given an RGB ICC profile of three
# chunks (from icc-profiles-free), XMP and IPTC, zoomed and saved as JPEG,
# must carry every one of those segments byte for byte, with EXIF pixel
# dimensions of the saved size and a thumbnail of the saved picture. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine
# prefix with Quillbox installed (the test harness sets them up).
. "$QB_ROOT/tests/scripts/lib.sh"

photo="$QB_GOEXIF/sample1.jpg"
out_folder saved-files
run_cscript "$out/road.log" "$QB_ROOT/examples/road.vbs" "$(qb_winpath "$photo")" "$(qb_winpath "$out")"
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
# One line per segment up to the image data: its kind and a digest of its
# bytes (length and payload).
segments() {
  python3 - "$1" <<'EOF2'
import hashlib, sys
data = open(sys.argv[1], 'rb').read()
at = 2
kinds = [(0xE1, b'Exif\0\0', 'exif'), (0xE1, b'http://ns.adobe.com/xap/1.0/\0', 'xmp'),
         (0xE1, b'http://ns.adobe.com/xmp/extension/\0', 'xmp'), (0xED, b'Photoshop 3.0\0', 'iptc'),
         (0xE2, b'ICC_PROFILE\0', 'icc')]
while at + 4 <= len(data) and data[at] == 0xFF and data[at + 1] != 0xDA:
    marker, length = data[at + 1], int.from_bytes(data[at + 2:at + 4], 'big')
    body = data[at + 4:at + 2 + length]
    kind = next((k for m, p, k in kinds if m == marker and body.startswith(p)), 'other-%02X' % marker)
    print(kind, hashlib.sha1(data[at + 2:at + 2 + length]).hexdigest())
    at += 2 + length
EOF2
}
check "exiftool finds one EXIF segment" test "$(segments "$jpeg" | grep -c '^exif ')" = 1
check "the JPEG is 500 x 375" test "$(exiftool -n -s3 -ImageWidth -ImageHeight "$jpeg" | tr '\n' ' ')" = "500 375 "
check "the PNG is 500 x 375" test "$(exiftool -n -s3 -ImageWidth -ImageHeight "$png" | tr '\n' ' ')" = "500 375 "
check "the example read the camera data back" grep -q "NIKON CORPORATION NIKON D2H" "$out/road.log"

# The source's metadata kinds, each kept whole and in order, in a zoomed save.
source="$out/metadata.jpg"
# An RGB profile (only one of those is carried into an RGB save) made
# long enough for three chunks: sRGB with unused space after its tags, its
# size field and (cleared) profile ID made to agree.
profile="$out/long-srgb.icc"
python3 -c 'import sys
d = bytearray(open("/usr/share/color/icc/sRGB.icc", "rb").read()) + bytes(140000)
d[0:4] = len(d).to_bytes(4, "big"); d[84:100] = bytes(16)
open(sys.argv[1], "wb").write(d)' "$profile"
exiftool -q -o "$source" "-ICC_Profile<=$profile" -XMP-dc:Subject=quillbox \
  -IPTC:Keywords=quillbox -IPTCDigest=new "$photo"
cat >"$out/zoomed.vbs" <<'EOF2'
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile WScript.Arguments(0)
Set zoom = CreateObject("Quillbox.Zoom.1")
zoom.Width = 320 : zoom.Height = 240
Set result = zoom.Apply(picture)
result.SaveAs WScript.Arguments(1), ".jpg"
result.SaveAs WScript.Arguments(1), ".png"
result.SaveFile WScript.Arguments(1) & "-plain.jpg", 0
EOF2
zoomed="$out/zoomed.jpg"
run_cscript "$out/zoomed.log" "$out/zoomed.vbs" "$(qb_winpath "$source")" "$(qb_winpath "${zoomed%.jpg}")"
check "the source has three ICC chunks" test "$(segments "$source" | grep -c '^icc ')" = 3
for kind in xmp iptc icc; do
  check "the zoomed save carries the source's $kind segments byte for byte" \
    test "$(segments "$source" | grep "^$kind ")" = "$(segments "$zoomed" | grep "^$kind ")" -a \
    -n "$(segments "$source" | grep "^$kind ")"
done
check "the zoomed save has one EXIF segment, first" test "$(segments "$zoomed" | sed -n 1p | cut -d' ' -f1)" = exif
check "exiftool reads the carried profile" \
  test "$(exiftool -s3 -ProfileDescription "$zoomed")" = "$(exiftool -s3 -ProfileDescription "$source")"
check "djpeg decodes the zoomed save" djpeg -outfile /dev/null "$zoomed"
check "the EXIF pixel dimensions are the saved size" \
  test "$(exiftool -n -s3 -ExifImageWidth -ExifImageHeight -ImageWidth -ImageHeight "$zoomed" | tr '\n' ' ')" = "320 240 320 240 "
# The thumbnail is the saved picture's: 160 x 120, and close to the saved
# picture scaled down (normalised RMSE under 5 %).
exiftool -b -ThumbnailImage "$zoomed" >"$out/thumbnail.jpg"
check "the thumbnail is 160 x 120" test "$(exiftool -n -s3 -ImageWidth -ImageHeight "$out/thumbnail.jpg" | tr '\n' ' ')" = "160 120 "
convert "$zoomed" -strip -resize 160x120! "$out/scaled.png"
thumbnail_error=$(compare -metric RMSE "$out/thumbnail.jpg" "$out/scaled.png" null: 2>&1 | sed 's/.*(\(.*\))/\1/')
check "the thumbnail is a small copy of the saved picture ($thumbnail_error)" \
  python3 -c "import sys; sys.exit(0 if float('$thumbnail_error') < 0.05 else 1)"
# Every EXIF byte before the thumbnail's JPEG is the source's: at most the
# two dimension values, the thumbnail's length and the segment's length
# differ (14 bytes).
exif_changes() {
  python3 - "$1" "$2" <<'EOF2'
import sys
def exif(path):
    data = open(path, 'rb').read()
    at = 2
    while data[at] == 0xFF and data[at + 1] != 0xDA:
        length = int.from_bytes(data[at + 2:at + 4], 'big')
        if data[at + 1] == 0xE1 and data[at + 4:at + 10] == b'Exif\0\0':
            return data[at + 2:at + 2 + length]
        at += 2 + length
def thumbnail_start(seg):
    tiff = seg[8:]
    order = 'little' if tiff[:2] == b'II' else 'big'
    u = lambda at, n: int.from_bytes(tiff[at:at + n], order)
    ifd0 = u(4, 4)
    ifd1 = u(ifd0 + 2 + 12 * u(ifd0, 2), 4)
    for i in range(u(ifd1, 2)):
        if u(ifd1 + 2 + 12 * i, 2) == 0x0201:
            return 8 + u(ifd1 + 2 + 12 * i + 8, 4)
a, b = exif(sys.argv[1]), exif(sys.argv[2])
end = thumbnail_start(a)
print(sum(x != y for x, y in zip(a[:end], b[:end])) if thumbnail_start(b) == end else 'moved')
EOF2
}
check "the kept EXIF bytes are the source's but for the rewritten values" \
  test "$(exif_changes "$source" "$zoomed")" -le 14
check "exiftool -validate finds no new warning" \
  test -z "$(comm -13 <(exiftool -validate -warning -a -s3 "$source" | sort) \
    <(exiftool -validate -warning -a -s3 "$zoomed" | sort))"

# The colour profile without the camera data: the plain JPEG save and the
# PNG save carry the whole profile (the PNG as a valid iCCP chunk).
png_crcs_true() {
  python3 - "$1" <<'EOF2'
import sys, zlib
data = open(sys.argv[1], 'rb').read()
at, types = 8, []
while at < len(data):
    n = int.from_bytes(data[at:at + 4], 'big')
    body = data[at + 4:at + 8 + n]
    assert zlib.crc32(body) == int.from_bytes(data[at + 8 + n:at + 12 + n], 'big'), body[:4]
    types.append(body[:4])
    at += 12 + n
assert types[:2] == [b'IHDR', b'iCCP'] and types[-1] == b'IEND', types
EOF2
}
profile_sum() { exiftool -b -ICC_Profile "$1" | sha1sum; }
for saved in "$out/zoomed.png" "$out/zoomed-plain.jpg"; do
  check "$(basename "$saved") carries the source's whole profile" \
    test "$(profile_sum "$source")" = "$(profile_sum "$saved")" -a -n "$(exiftool -s3 -ProfileDescription "$saved")"
done
check "the plain JPEG save keeps no camera data" test "$(segments "$out/zoomed-plain.jpg" | grep -c '^exif ')" = 0
check "djpeg decodes the plain JPEG save" djpeg -outfile /dev/null "$out/zoomed-plain.jpg"
check "every chunk of the PNG save has a true CRC, iCCP right after IHDR" png_crcs_true "$out/zoomed.png"

# Quality reaches every JPEG save: ImageMagick's estimate of each file's
# quality is the picture's Quality, for a spliced save (camera data kept), a
# plain one, and a modifier's result, which carries the Quality on.
cat >"$out/quality.vbs" <<'EOF2'
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile WScript.Arguments(0)
For Each q In Array(30, 75, 90, 100)
  picture.Quality = q
  picture.SaveAs WScript.Arguments(1) & "-" & q & "-kept", ".jpg"
  picture.SaveFile WScript.Arguments(1) & "-" & q & "-plain.jpg", 0
  Set bright = CreateObject("Quillbox.Bright.1")
  bright.Brightness = 10
  bright.Apply(picture).SaveAs WScript.Arguments(1) & "-" & q & "-bright", ".jpg"
Next
EOF2
run_cscript "$out/quality.log" "$out/quality.vbs" "$(qb_winpath "$photo")" "$(qb_winpath "$out/quality")"
for q in 30 75 90 100; do
  for kind in kept plain bright; do
    check "identify estimates quality $q for the $kind save" \
      test "$(identify -format %Q "$out/quality-$q-$kind.jpg")" = "$q"
  done
done
check "the kept save at 30 has the camera data" test "$(exiftool -s3 -Make "$out/quality-30-kept.jpg")" = "NIKON CORPORATION"

finish
