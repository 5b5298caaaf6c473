#!/bin/bash
# The contact sheet of a photo, and a screenshot of its page in a headless
# browser to look at. Run after tools/main.sh or tools/test.sh (it needs the
# build and the prefix with Quillbox installed); installs Debian's chromium
# when it is missing.
#
#   bash tools/contact-sheet.sh [PHOTO]     (the bundled photo by default)
#
# Writes build/out/contact-sheet/ (the PNGs and index.html) and
# build/out/contact-sheet.png.
set -eu
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/tools/lib.sh"
photo="${1:-$QB_GOEXIF/sample1.jpg}"
out="$QB_BUILD/out/contact-sheet"
if ! command -v chromium >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get install -y -qq --no-install-recommends chromium >/dev/null
fi
rm -rf "$out"
mkdir -p "$out"
wine cscript //nologo "$(qb_winpath "$QB_ROOT/examples/cookbook/contact_sheet.vbs")" "$(qb_winpath "$photo")" \
  "$(qb_winpath "$out")" </dev/null
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1400,1100 \
  --screenshot="$out.png" "file://$out/index.html" 2>/dev/null
echo "screenshot: $out.png"
