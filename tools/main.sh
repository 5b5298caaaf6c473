#!/bin/bash
# The main job: builds Quillbox for Windows, installs it into the private
# Wine prefix of the build tree and runs the example script.
set -eu
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/tools/lib.sh"

qb_install_packages
qb_build_win32 --target Quillbox Rastrum regtlb
qb_stop_prefix
qb_make_prefix
qb_install_into_prefix
qb_log "example: examples/catalogue.vbs"
wine cscript //nologo "$(qb_winpath "$QB_ROOT/examples/catalogue.vbs")" </dev/null | tr -d '\r'
status=${PIPESTATUS[0]}
qb_stop_prefix
exit "$status"
