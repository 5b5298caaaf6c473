#!/bin/bash
# The soak with a few rounds: 300 rounds of every modifier on a small
# picture and 2 on a 12-megapixel one, with the other ways in and out
# between them; the process must end as it began. The full soak is
#   wine quillbox_soak.exe PHOTO OUTFOLDER 10000 200
# from build/win32. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine prefix
# with Quillbox installed.
. "$QB_ROOT/tests/scripts/lib.sh"
out_folder soak
(cd "$QB_BUILD/win32" &&
  xvfb-run -a wine quillbox_soak.exe "$(qb_winpath "$QB_GOEXIF/sample1.jpg")" "$(qb_winpath "$out")" 300 2) \
  </dev/null >"$out/soak.log" 2>&1
grep -v '^FAIL\|^[0-9]* passed, [0-9]* failed' "$out/soak.log" | tr -d '\r'
add_counts soak "$out/soak.log"
finish
