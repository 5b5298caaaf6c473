#!/bin/bash
# The soak with a few rounds: 300 rounds of every modifier on a small
# picture and 2 on a 12-megapixel one, with the other ways in and out
# between them; the process must end as it began. The full soak is
#   wine quillbox_soak.exe PHOTO OUTFOLDER 10000 200
# from build/win32. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine prefix
# with Quillbox installed.
set -u
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }
out="$QB_BUILD/out/soak"
rm -rf "$out"
mkdir -p "$out"
cd "$QB_BUILD/win32" || exit 1
xvfb-run -a wine quillbox_soak.exe "$(winpath "$QB_GOEXIF/sample1.jpg")" "$(winpath "$out")" 300 2 </dev/null 2>&1 |
  tr -d '\r' | tee "$out/soak.log"
line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out/soak.log" | tail -1)
[ -n "$line" ] || { echo "0 passed, 1 failed"; exit 1; }
f=${line#*, }
exit "${f%% failed}"
