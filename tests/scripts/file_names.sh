#!/bin/bash
# Photos named in Chinese and in Cyrillic, in a folder named in Cyrillic,
# under code page 1252, which spells none of it: VBScript and JScript load
# them, read their camera data, hand them to the picture-file loaders and
# save their brightened copies. exiftool must find the camera data in every
# saved JPEG, and no stand-in file may be left in the folder. Needs QB_ROOT,
# QB_BUILD, QB_GOEXIF and the Wine prefix with Quillbox installed.
. "$QB_ROOT/tests/scripts/lib.sh"
wine_env=(LC_ALL=C.UTF-8)
out_folder file-names
folder="$out/фотографии"
mkdir -p "$folder"
photo="$QB_GOEXIF/sample1.jpg"
cp "$photo" "$folder/照片 1.jpg"
cp "$photo" "$folder/фото.jpg"

for script in names.vbs names.js; do
  script_test "$out/$script.log" "$QB_ROOT/tests/scripts/file_names/$script" "$(qb_winpath "$folder")" \
    "${script##*.}" "照片 1" "фото"
done

camera() { exiftool -s3 -Make -Model -DateTimeOriginal "$1" | tr '\n' '/'; }
expected=$(camera "$photo")
for tag in vbs js; do
  for base in "照片 1" "фото"; do
    for saved in "$tag-$base.jpg" "$tag-$base-kept.jpeg"; do
      check "exiftool finds the camera data in $saved" test "$(camera "$folder/$saved")" = "$expected"
    done
    check "$tag-$base.png is a PNG" test "$(exiftool -s3 -FileType "$folder/$tag-$base.png")" = PNG
  done
done
check "no stand-in file is left in the folder" test -z "$(find "$folder" -name '~qb*' -o -name 'qbx*')"
check "the folder holds the two photos and twelve saves" test "$(find "$folder" -type f | wc -l)" -eq 14

finish
