#!/bin/bash
# Photos named in Chinese and in Cyrillic, in a folder named in Cyrillic,
# under code page 1252, which spells none of it: VBScript and JScript load
# them, read their camera data, hand them to the picture-file loaders and
# save their brightened copies. exiftool must find the camera data in every
# saved JPEG, and no stand-in file may be left in the folder. Needs QB_ROOT,
# QB_BUILD, QB_GOEXIF and the Wine prefix with Quillbox installed.
set -u
. "$QB_ROOT/tools/lib.sh"
passed=0
failed=0
check() {
  local what="$1"
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $what"; fi
}
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }
western() { env LC_ALL=C.UTF-8 "$@"; }

folder="$QB_BUILD/out/file-names/фотографии"
rm -rf "$QB_BUILD/out/file-names"
mkdir -p "$folder"
photo="$QB_GOEXIF/sample1.jpg"
cp "$photo" "$folder/照片 1.jpg"
cp "$photo" "$folder/фото.jpg"

for script in names.vbs names.js; do
  tag=${script##*.}
  western wine cscript //nologo "$(qb_script_job "$QB_ROOT/tests/scripts/file_names/$script")" "$(winpath "$folder")" "$tag" "照片 1" "фото" \
    </dev/null 2>&1 | tr -d '\r' >"$QB_BUILD/out/file-names/$script.log"
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$QB_BUILD/out/file-names/$script.log" | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    echo "FAIL $script did not report"
    continue
  fi
  grep '^FAIL' "$QB_BUILD/out/file-names/$script.log" | sed "s/^FAIL /FAIL $script: /"
  passed=$((passed + ${line%% passed*}))
  f=${line#*, }
  failed=$((failed + ${f%% failed}))
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

echo "$passed passed, $failed failed"
exit "$failed"
