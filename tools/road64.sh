#!/bin/bash
# The road for 64-bit scripts: installs the build of tools/main.sh into the
# build tree's 64-bit Wine prefix (install.cmd run from the 64-bit command
# prompt, as a user of 64-bit Windows would) and runs examples/road.vbs on
# the bundled photo with the 64-bit cscript, whose objects COM serves from
# QuillboxHost.exe. Output goes to build/out/road64.
set -eu
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/tools/lib.sh"

for f in Quillbox.dll Quillbox.tlb Rastrum.dll regtlb.exe QuillboxHost.exe install.cmd; do
  [ -f "$QB_WIN32/$f" ] || { qb_log "$QB_WIN32/$f is missing: run bash tools/main.sh first"; exit 1; }
done
[ -f "$QB_GOEXIF/sample1.jpg" ] || { qb_log "the bundled photo is missing: run bash tools/main.sh first"; exit 1; }
qb_use_win64_prefix
qb_stop_prefix
qb_log "installing Quillbox into the 64-bit prefix $WINEPREFIX"
(cd "$QB_WIN32" && "$QB_WINE64" cmd /c install.cmd </dev/null) | tr -d '\r'
[ "${PIPESTATUS[0]}" -eq 0 ] || { qb_log "install.cmd failed"; exit 1; }
out="$QB_BUILD/out/road64"
mkdir -p "$out"
qb_log "example: examples/road.vbs from the 64-bit cscript"
# A surrogate inherits its first client's output until it ends: keep the
# road's own output in a file so that the pipe closes with the script.
status=0
"$QB_WINE64" cscript //nologo "$(qb_winpath "$QB_ROOT/examples/road.vbs")" \
  "$(qb_winpath "$QB_GOEXIF/sample1.jpg")" "$(qb_winpath "$out")" </dev/null >"$out/road.log" 2>&1 || status=$?
tr -d '\r' <"$out/road.log"
qb_stop_prefix
exit "$status"
