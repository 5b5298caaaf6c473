#!/bin/bash
# The cookbook's recipes, each in VBScript and JScript, run as a user runs
# them on a folder of copies of the bundled photo; what they wrote is read
# back with exiftool and the player. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and
# the Wine prefix with Quillbox installed (the test harness sets them up).
. "$QB_ROOT/tests/scripts/lib.sh"
size() { exiftool -n -s3 -ImageWidth -ImageHeight "$1" | tr '\n' ' '; }
sizes_are() {  # sizes_are WIDTH HEIGHT FILE...: every file is there, of that size
  local w="$1" h="$2" f
  shift 2
  for f in "$@"; do [ "$(size "$f")" = "$w $h " ] || return 1; done
}
camera_kept() {  # camera_kept FILE...: every file names the camera of the photo
  local f
  for f in "$@"; do
    [ "$(exiftool -s3 -Make -Model "$f" | tr '\n' '/')" = "NIKON CORPORATION/NIKON D2H/" ] || return 1
  done
}
run() {  # run LOG RECIPE ARGS...: runs examples/cookbook/RECIPE with cscript
  local log="$1" recipe="$2"
  shift 2
  run_cscript "$log" "$QB_ROOT/examples/cookbook/$recipe" "$@"
}

out_folder cookbook
mkdir -p "$out/photos"
photos=(harbour.jpg market.jpg tower.jpg)
for p in "${photos[@]}"; do cp "$QB_GOEXIF/sample1.jpg" "$out/photos/$p"; done
# One photo without an exposure time, one with ISO, lens and a position in
# the southern and western hemispheres.
exiftool -q -overwrite_original -ExposureTime= "$out/photos/market.jpg"
exiftool -q -overwrite_original -ISO=400 "-LensModel=AF-S DX 18-70mm f/3.5-4.5G" -GPSLatitude=33.856812 \
  -GPSLatitudeRef=S -GPSLongitude=151.215281 -GPSLongitudeRef=W "$out/photos/tower.jpg"
camera_csv="file,make,model,date,exposure,aperture,focal length,flash,ISO,lens,latitude,longitude
harbour.jpg,NIKON CORPORATION,NIKON D2H,2003:11:23 18:07:37,1/125,f/4.5,23 mm,No,,,39.915556,116.390833
market.jpg,NIKON CORPORATION,NIKON D2H,2003:11:23 18:07:37,,f/4.5,23 mm,No,,,39.915556,116.390833
tower.jpg,NIKON CORPORATION,NIKON D2H,2003:11:23 18:07:37,1/125,f/4.5,23 mm,No,400,AF-S DX 18-70mm f/3.5-4.5G,-33.856812,-151.215281"
printf 'not a photo\r\n' >"$out/photos/notes.txt"
in="$(qb_winpath "$out/photos")"

# The web upload recipe's uploads: the photo marked as turned a quarter
# clockwise, and a text file named like a photo. Its results go by HTTP PUT
# to a small server that writes what it is sent into the out folder (Wine's
# ADODB.Stream cannot save files).
mkdir -p "$out/uploads" "$out/web"
exiftool -q -o "$out/uploads/turned.jpg" -Orientation#=6 "$QB_GOEXIF/sample1.jpg"
printf 'not a photo\r\n' >"$out/uploads/text.jpg"
python3 -u -c '
import http.server, os, sys
class Put(http.server.BaseHTTPRequestHandler):
    def do_PUT(self):
        data = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with open(os.path.join(sys.argv[1], os.path.basename(self.path)), "wb") as f:
            f.write(data)
        self.send_response(201)
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Put)
print(server.server_port)
server.serve_forever()
' "$out/web" >"$out/web-port.txt" 2>/dev/null &
web_server=$!
trap 'kill "$web_server" 2>/dev/null' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -s "$out/web-port.txt" ] && break; sleep 0.5; done
web="http://127.0.0.1:$(cat "$out/web-port.txt")"


# Phone photos stored sideways, as a phone held upright writes them: the
# pixels a quarter turn anticlockwise, orientation 6 in the EXIF (with the
# photo's make, model, date and position). The HEIC carries the turn as its
# rotation property too, which its decoder applies.
ph="$out/phone"
mkdir -p "$ph"
convert "$QB_GOEXIF/sample1.jpg" -rotate -90 "$ph/stored.jpg"
exiftool -q -overwrite_original -tagsfromfile "$QB_GOEXIF/sample1.jpg" -exif:all -Orientation#=6 "$ph/stored.jpg"
cwebp -quiet -metadata exif "$ph/stored.jpg" -o "$ph/phone.webp"
for f in png tif; do
  convert "$ph/stored.jpg" -strip "$ph/bare.$f"
  exiftool -q -tagsfromfile "$ph/stored.jpg" -exif:all -o "$ph/phone.$f" "$ph/bare.$f"
done
heif-enc -q 80 "$ph/stored.jpg" -o "$ph/stored.heic" >/dev/null 2>&1 &&
  python3 "$QB_ROOT/tests/scripts/heif_irot.py" "$ph/stored.heic" "$ph/phone.heic" 3
convert "$QB_GOEXIF/sample1.jpg" -resize 400x300 "$ph/upright.png"
phones=(phone.webp phone.png phone.tif)
# HEIC where the build carries its decoder.
if ls "$QB_BUILD"/win32/*heif*.dll >/dev/null 2>&1; then phones+=(phone.heic); else echo "SKIP phone_to_web on HEIC: no libheif in this build"; fi
distance() { compare -metric RMSE "$1" "$2" null: 2>&1 | sed -n 's/.*(\(.*\))/\1/p'; }

for lang in vbs js; do
  o="$out/$lang"
  mkdir -p "$o"

  run "$o/brighten.log" "brighten_folder.$lang" "$in" "$(qb_winpath "$o/bright")" 30
  check "brighten_folder.$lang ends well" test $? -eq 0
  check "brighten_folder.$lang wrote 3 JPEGs of 500 x 375" sizes_are 500 375 "${photos[@]/#/$o/bright/}"
  check "brighten_folder.$lang wrote only the photos" test "$(ls "$o/bright" | wc -l)" -eq 3
  check "brighten_folder.$lang's JPEGs keep the camera make and model" camera_kept "${photos[@]/#/$o/bright/}"

  run "$o/camera.csv" "camera_csv.$lang" "$in"
  check "camera_csv.$lang ends well" test $? -eq 0
  check "camera_csv.$lang has the header" test "$(head -1 "$o/camera.csv")" = "$(head -1 <<<"$camera_csv")"
  check "camera_csv.$lang has one row a photo: no exposure where there is none, ISO, lens, signed degrees" \
    test "$(cat "$o/camera.csv")" = "$camera_csv"

  run "$o/watermark.log" "watermark_folder.$lang" "$in" "$(qb_winpath "$o/marked")"
  check "watermark_folder.$lang ends well" test $? -eq 0
  check "watermark_folder.$lang wrote 3 JPEGs of 500 x 375" sizes_are 500 375 "${photos[@]/#/$o/marked/}"
  check "watermark_folder.$lang laid the mark 12 pixels in" grep -q "laid at (248, 299)" "$o/watermark.log"

  run "$o/card.log" "card.$lang" "$(qb_winpath "$out/photos/harbour.jpg")" "$(qb_winpath "$o/cards/harbour.exe")" \
    "The harbour at dusk"
  check "card.$lang ends well" test $? -eq 0
  wine "$o/cards/harbour.exe" /list </dev/null 2>/dev/null | tr -d '\r' >"$o/card-list.txt"
  check "card.$lang's card holds the photo and the note" \
    test "$(cut -f1 "$o/card-list.txt")" = "$(printf 'harbour.jpg\nharbour-note.txt')"
  check "card.$lang's photo is whole" grep -qx "harbour.jpg	$(stat -c %s "$out/photos/harbour.jpg")" \
    "$o/card-list.txt"

  run "$o/sheet.log" "contact_sheet.$lang" "$(qb_winpath "$out/photos/tower.jpg")" "$(qb_winpath "$o/sheet")"
  check "contact_sheet.$lang ends well" test $? -eq 0
  names=(bright contrast adjust_color sharp red_eye mirror blur add_text add_pic frame)
  (cd "$o/sheet" 2>/dev/null && sizes_are 500 375 "${names[@]/%/.png}" && sizes_are 250 187 crop.png zoom.png &&
    sizes_are 621 575 rotate.png)
  check "contact_sheet.$lang: 13 pictures of their sizes" test $? -eq 0
  missing=0
  for png in "$o"/sheet/*.png; do grep -q "src=\"$(basename "$png")\"" "$o/sheet/index.html" || missing=1; done
  check "contact_sheet.$lang: index.html names all $(ls "$o"/sheet/*.png | wc -l) pictures" \
    test "$missing" -eq 0 -a "$(ls "$o"/sheet/*.png | wc -l)" -ge 13

  run "$o/web.log" "web_upload.$lang" "$(qb_winpath "$out/uploads/turned.jpg")" "$web/$lang.jpg"
  check "web_upload.$lang ends well" test $? -eq 0
  check "web_upload.$lang turned the upload upright and gave it 1600 pixels on its long side" \
    sizes_are 1200 1600 "$out/web/$lang.jpg"
  check "web_upload.$lang's JPEG says Orientation 1 and keeps the camera" \
    test "$(exiftool -n -s3 -Orientation "$out/web/$lang.jpg")" = 1 -a "$(camera_kept "$out/web/$lang.jpg"; echo $?)" = 0
  check "web_upload.$lang's JPEG is at quality 85" test "$(identify -format %Q "$out/web/$lang.jpg")" = 85
  check "web_upload.$lang laid the mark 12 pixels in" grep -q "watermark at (948, 1524)" "$o/web.log"
  convert "$out/web/$lang.jpg" -resize 25% "$o/web-upload.png" 2>/dev/null
  run "$o/web-bad.log" "web_upload.$lang" "$(qb_winpath "$out/uploads/text.jpg")" "$web/bad-$lang.jpg"
  check "web_upload.$lang fails on an upload that is no picture, saying so" \
    test $? -eq 1 -a "$(grep -c "is not an image\|are not an image" "$o/web-bad.log")" = 1

  for p in "${phones[@]}"; do
    r="$o/web-${p/./-}.jpg"
    run "$o/phone-$p.log" "phone_to_web.$lang" "$(qb_winpath "$ph/$p")" "$(qb_winpath "$r")" 400
    check "phone_to_web.$lang on $p ends well" test $? -eq 0
    check "phone_to_web.$lang on $p: upright, 400 x 300, as the photo looks" \
      awk -v d="$(distance "$r" "$ph/upright.png")" -v s="$(size "$r")" 'BEGIN { exit !(s == "400 300 " && d != "" && d < 0.05) }'
    check "phone_to_web.$lang on $p keeps make, model, date and position, orientation 1" test \
      "$(exiftool -n -s3 -Make -Model -DateTimeOriginal -GPSLatitude -Orientation "$r" | tr '\n' '/')" = \
      "NIKON CORPORATION/NIKON D2H/2003:11:23 18:07:37/39.9155555555556/1/"
  done

  run "$o/bad.log" "brighten_folder.$lang" "$(qb_winpath "$out/no-such-folder")" "$(qb_winpath "$o/bad")"
  check "brighten_folder.$lang fails on a missing folder" test $? -ne 0
  check "brighten_folder.$lang says which folder is missing" grep -q "no-such-folder" "$o/bad.log"
done

finish
