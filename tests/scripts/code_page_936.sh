#!/bin/bash
# Zoom's size limit under code page 936, as a Chinese system runs it: the
# Wine processes get the locale zh_CN.UTF-8 (its ANSI code page is 936; no
# locale needs generating). The limit's narrow text must then read as the
# Chinese it encodes, through the vtable (the Windows test program's test
# for code page 936, skipped under any other) and late-bound in VBScript
# and JScript. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine prefix with
# Quillbox installed (the test harness sets them up).
set -u
. "$QB_ROOT/tools/lib.sh"
passed=0
failed=0
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }
chinese() { env LC_ALL=zh_CN.UTF-8 "$@"; }
out="$QB_BUILD/out/code-page-936"
mkdir -p "$out"

# A script run: its closing line's counts, or one failure if it has none.
for script in library_modifiers.vbs library_modifiers.js; do
  chinese wine cscript //nologo "$(qb_script_job "$QB_ROOT/tests/scripts/$script")" "$(winpath "$QB_GOEXIF/sample1.jpg")" 936 \
    </dev/null 2>&1 | tr -d '\r' >"$out/$script.log"
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out/$script.log" | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    echo "FAIL $script did not report"
    continue
  fi
  grep '^FAIL' "$out/$script.log" | sed "s/^FAIL /FAIL $script: /"
  passed=$((passed + ${line%% passed*}))
  f=${line#*, }
  failed=$((failed + ${f%% failed}))
done

# The vtable test for code page 936 must run, not skip, and pass.
(cd "$QB_BUILD/win32" && chinese wine quillbox_wintests.exe --gtest_filter='LibraryModifiers.ZoomLimitTextUnderCodePage936') \
  </dev/null >"$out/wintests.log" 2>&1
if grep -q '^\[  PASSED  \] 1 test' "$out/wintests.log" && ! grep -q 'SKIPPED' "$out/wintests.log"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAIL the Windows test for code page 936 did not pass"
fi

echo "$passed passed, $failed failed"
exit "$failed"
