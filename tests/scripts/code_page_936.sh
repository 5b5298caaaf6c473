#!/bin/bash
# Zoom's size limit under code page 936, as a Chinese system runs it: the
# Wine processes get the locale zh_CN.UTF-8 (its ANSI code page is 936; no
# locale needs generating). The limit's narrow text must then read as the
# Chinese it encodes, through the vtable (the Windows test program's test
# for code page 936, skipped under any other) and late-bound in VBScript
# and JScript. Needs QB_ROOT, QB_BUILD, QB_GOEXIF and the Wine prefix with
# Quillbox installed (the test harness sets them up).
. "$QB_ROOT/tests/scripts/lib.sh"
wine_env=(LC_ALL=zh_CN.UTF-8)
out_folder code-page-936

for script in library_modifiers.vbs library_modifiers.js; do
  script_test "$out/$script.log" "$QB_ROOT/tests/scripts/$script" \
    "$(qb_winpath "$QB_GOEXIF/sample1.jpg")" 936
done

# The vtable test for code page 936 must run, not skip, and pass.
(cd "$QB_BUILD/win32" && env "${wine_env[@]}" wine quillbox_wintests.exe --gtest_filter='LibraryModifiers.ZoomLimitTextUnderCodePage936') \
  </dev/null >"$out/wintests.log" 2>&1
ran_and_passed() { grep -q '^\[  PASSED  \] 1 test' "$1" && ! grep -q SKIPPED "$1"; }
check "the Windows test for code page 936 passes" ran_and_passed "$out/wintests.log"
finish
