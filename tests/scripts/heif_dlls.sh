#!/bin/bash
# A deployment without libheif.dll and libde265.dll (the LGPL decoders a
# user may leave out or replace): the shipped files without them, installed
# by install.cmd into a copy of the Wine prefix. JPEG, PNG, WebP and TIFF
# still load; HEIC and AVIF fail with the ErrorDetail that names the DLLs,
# and nothing crashes. Then the two DLLs are put beside Rastrum.dll and the
# same installation reads HEIC and AVIF, upright. Needs QB_ROOT,
# QB_BUILD, QB_GOEXIF and the build tree's Wine prefix.
set -u
passed=0
failed=0
check() {
  local what="$1"
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $what"; fi
}
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }

win32="$QB_BUILD/win32"
out="$QB_BUILD/out/heif-dlls"
rm -rf "$out"
mkdir -p "$out/app" "$out/files"
for f in Quillbox.dll Quillbox.tlb Rastrum.dll regtlb.exe QuillboxHost.exe install.cmd uninstall.cmd; do
  cp "$win32/$f" "$out/app/" || { echo "FAIL $f is not in $win32"; echo "0 passed, 1 failed"; exit 1; }
done
photo="$QB_GOEXIF/sample1.jpg"
cp "$photo" "$out/files/photo.jpg"
convert-im6.q16 "$photo" -resize 64x64 "$out/files/photo.png"
convert-im6.q16 "$photo" -resize 64x64 "$out/files/photo.webp"
convert-im6.q16 "$photo" -resize 64x64 -compress LZW "$out/files/photo.tif"
cp "$QB_ROOT/tests/unit/heif/rotated.heic" "$QB_ROOT/tests/unit/heif/alpha.avif" "$out/files/"

export WINEPREFIX="$out/prefix"
cp -a "$win32/wineprefix" "$WINEPREFIX"
(cd "$out/app" && wine cmd /c install.cmd) </dev/null 2>&1 | tr -d '\r' >"$out/install.log"
check "install.cmd says the DLLs are not there" grep -q 'libheif.dll is not here: HEIC and AVIF pictures will not load' "$out/install.log"
check "install.cmd installs" grep -q 'Quillbox is installed' "$out/install.log"

load() {
  wine cscript //nologo "$(winpath "$QB_ROOT/tests/scripts/heif_dlls/load.vbs")" "$(winpath "$out/files")" \
    photo.jpg photo.png photo.webp photo.tif rotated.heic alpha.avif </dev/null 2>&1 | tr -d '\r' >"$out/$1.log"
  cat "$out/$1.log"
}
field() { grep "^$2|" "$out/$1.log" | cut -d'|' -f"$3"; }

load without
check "the script ran to its end without the DLLs" grep -q '^done$' "$out/without.log"
for f in photo.jpg photo.png photo.webp photo.tif; do
  check "$f loads without the DLLs" test "$(field without "$f" 2)" = 0
done
for f in rotated.heic alpha.avif; do
  check "$f fails without the DLLs" test "$(field without "$f" 2)" != 0
  check "$f names the missing DLLs" grep -q "^$f|.*$f is a HEIC or AVIF picture: reading those needs libheif.dll and libde265.dll beside Rastrum.dll" "$out/without.log"
done

cp "$win32/libheif.dll" "$win32/libde265.dll" "$out/app/"
load with
check "the script ran to its end with the DLLs" grep -q '^done$' "$out/with.log"
check "rotated.heic loads upright with the DLLs" test "$(field with rotated.heic 2-5)" = "0|37|61|24"
check "alpha.avif loads with its alpha" test "$(field with alpha.avif 2-5)" = "0|61|37|32"

wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
rm -rf "$WINEPREFIX"
echo "$passed passed, $failed failed"
exit "$failed"
