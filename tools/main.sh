#!/bin/bash
# The main job: builds Quillbox for Windows, installs it into the private
# Wine prefix of the build tree and runs the example scripts on the bundled
# photo (sample1.jpg, a Nikon D2H photo from Debian's BSD-licensed package
# golang-github-rwcarlsen-goexif-dev): the road of edits, and a card.
set -eu
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/tools/lib.sh"

qb_install_packages
qb_fetch_samples
qb_fetch_codec_sources
# Everything install.cmd and the guide need: the server and its imaging
# library, the type-library tool, the surrogate for 64-bit clients, the
# player and the scripting reference (build/win32/reference).
qb_build_win32 --target Quillbox Rastrum regtlb QuillboxHost Showreel quillbox_reference
[ -f "$QB_WIN32/reference/index.md" ] || { qb_log "the scripting reference was not written"; exit 1; }
qb_stop_prefix
qb_make_prefix
qb_install_into_prefix
qb_log "example: examples/road.vbs on the bundled photo"
mkdir -p "$QB_BUILD/out"
wine cscript //nologo "$(qb_winpath "$QB_ROOT/examples/road.vbs")" \
  "$(qb_winpath "$QB_GOEXIF/sample1.jpg")" "$(qb_winpath "$QB_BUILD/out")" </dev/null | tr -d '\r'
status=${PIPESTATUS[0]}
qb_log "example: examples/card.vbs packs the brightened photo into a card and unpacks a copy"
wine cscript //nologo "$(qb_winpath "$QB_ROOT/examples/card.vbs")" \
  "$(qb_winpath "$QB_GOEXIF/sample1.jpg")" "$(qb_winpath "$QB_BUILD/out")" </dev/null | tr -d '\r'
card_status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] && status=$card_status
qb_stop_prefix
exit "$status"
