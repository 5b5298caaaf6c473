#!/bin/bash
# Builds both trees, installs Quillbox into the private Wine prefix and runs
# every test: the layering check, native unit tests (also under ASan and
# UBSan), a short run of every fuzz target, the Windows test program under
# Wine, and the VBScript and JScript tests through cscript.
# Ends with one line "N passed, N failed, N skipped" for the whole run; exits
# non-zero on any failure, a failed build, a test program or script that did
# not report, or a skipped test that is not on the list of expected skips.
set -u
QB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$QB_ROOT/tools/lib.sh"

# GoogleTest tests (Suite.Name, shell patterns allowed) that may skip on this
# set-up. A skip of any other test counts as a failure. The camera files the
# others need are always fetched. The test of Zoom's text under code page 936
# skips under any other code page; tests/scripts/code_page_936.sh runs it
# under 936 and fails when it does not run there.
expected_skips=(LibraryModifiers.ZoomLimitTextUnderCodePage936)

passed=0
failed=0
skipped=0
problems=()

fail_run() {  # a program that did not report counts as one failure
  failed=$((failed + 1))
  problems+=("$1")
}

expected_skip() {
  local pattern
  for pattern in "${expected_skips[@]}"; do
    [[ "$1" == $pattern ]] && return 0
  done
  return 1
}

# The names of the tests a GoogleTest run skipped, from the list under its
# summary.
skipped_tests() {
  tr -d '\r' <"$1" | awk '
    /^\[  SKIPPED \] [0-9]+ tests?, listed below:/ { listing = 1; next }
    listing && /^\[  SKIPPED \] / { sub(/^\[  SKIPPED \] /, ""); sub(/[ ,].*/, ""); print; next }
    { listing = 0 }'
}

# Adds the counts of a GoogleTest run from its output. A skipped test counts
# as skipped when it is an expected skip, else as failed.
count_gtest() {
  local name="$1" out="$2" rc="$3" p f s t names=0
  p=$(grep -E '^\[  PASSED  \] [0-9]+ test' "$out" | tail -1 | grep -oE '[0-9]+' | head -1)
  f=$(grep -E '^\[  FAILED  \] [0-9]+ test' "$out" | tail -1 | grep -oE '[0-9]+' | head -1)
  s=$(grep -E '^\[  SKIPPED \] [0-9]+ test' "$out" | tail -1 | grep -oE '[0-9]+' | head -1)
  if [ -z "$p" ]; then
    fail_run "$name: no summary (exit $rc)"
    tail -20 "$out" >&2
    return
  fi
  passed=$((passed + p))
  failed=$((failed + ${f:-0}))
  while IFS= read -r t; do
    names=$((names + 1))
    if expected_skip "$t"; then
      skipped=$((skipped + 1))
    else
      fail_run "$name: $t skipped, and it is not an expected skip"
    fi
  done < <(skipped_tests "$out")
  if [ "$names" -ne "${s:-0}" ]; then
    fail_run "$name: ${s:-0} tests skipped, $names of them named in the summary"
  fi
  if [ "${f:-0}" -gt 0 ] || [ "$rc" -ne 0 ]; then
    problems+=("$name: ${f:-0} failed (exit $rc)")
    grep -E '^\[  FAILED  \] [A-Za-z]' "$out" >&2
    [ "${f:-0}" -eq 0 ] && failed=$((failed + 1))
  fi
}

# Runs one script (VBScript or JScript through cscript with its harness in
# front, shell scripts with bash); it must end with "N passed, N failed" and
# exit with its failure count. Script tests get the sample photo's Windows
# path as argument.
run_script() {
  local script="$1" name out rc line p f
  name="$(basename "$script")"
  out="$QB_BUILD/logs/$name.log"
  if [ "${script##*.}" = sh ]; then
    QB_ROOT="$QB_ROOT" QB_BUILD="$QB_BUILD" QB_GOEXIF="$QB_GOEXIF" bash "$script" >"$out" 2>&1 </dev/null
  else
    wine cscript //nologo "$(qb_script_job "$script")" "$(qb_winpath "$QB_GOEXIF/sample1.jpg")" \
      >"$out" 2>&1 </dev/null
  fi
  rc=$?
  tr -d '\r' <"$out" >"$out.txt"
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out.txt" | tail -1)
  if [ -z "$line" ]; then
    fail_run "$name: did not report (exit $rc)"
    tail -20 "$out.txt" >&2
    return
  fi
  p=${line%% passed*}
  f=${line#*, }
  f=${f%% failed}
  passed=$((passed + p))
  failed=$((failed + f))
  if [ "$f" -ne 0 ] || [ "$rc" -ne "$f" ]; then
    problems+=("$name: $f failed (exit $rc)")
    grep -E '^FAIL' "$out.txt" >&2
    [ "$f" -eq 0 ] && failed=$((failed + 1))
  fi
}

qb_install_packages || { echo "0 passed, 1 failed, 0 skipped"; exit 1; }
qb_fetch_samples || { echo "0 passed, 1 failed, 0 skipped"; exit 1; }
qb_fetch_codec_sources || { echo "0 passed, 1 failed, 0 skipped"; exit 1; }
# The native tests and the Windows test program find the photos here.
export QB_GOEXIF_DIR="$QB_GOEXIF"
export QB_SAMPLES_WIN="$(qb_winpath "$QB_GOEXIF")"
mkdir -p "$QB_BUILD/logs"
if ! qb_build_native; then echo "0 passed, 1 failed, 0 skipped"; exit 1; fi
if ! qb_build_win32; then echo "0 passed, 1 failed, 0 skipped"; exit 1; fi

# Each folder includes only the folders beneath it; portable code no
# Windows header. One test.
qb_log "layering check"
if bash "$QB_ROOT/tools/check-layers.sh" "$QB_ROOT" >"$QB_BUILD/logs/layers.log" 2>&1; then
  passed=$((passed + 1))
else
  fail_run "layering check: $(tail -1 "$QB_BUILD/logs/layers.log")"
  grep -v '^layers: ' "$QB_BUILD/logs/layers.log" >&2
fi

qb_log "native unit tests"
"$QB_NATIVE/qb_unit_tests" >"$QB_BUILD/logs/unit.log" 2>&1
count_gtest unit "$QB_BUILD/logs/unit.log" $?

# The same tests once more under AddressSanitizer and UBSan: the parsers of
# outside bytes must not read or write outside their buffers.
qb_log "native unit tests under ASan and UBSan"
if cmake -S "$QB_ROOT" -B "$QB_BUILD/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_SANITIZE=ON >/dev/null &&
  cmake --build "$QB_BUILD/asan" -j"$(nproc)" >"$QB_BUILD/logs/asan-build.log" 2>&1; then
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 "$QB_BUILD/asan/qb_unit_tests" \
    >"$QB_BUILD/logs/unit-asan.log" 2>&1
  count_gtest unit-asan "$QB_BUILD/logs/unit-asan.log" $?
else
  fail_run "sanitizer build"
  tail -20 "$QB_BUILD/logs/asan-build.log" >&2
fi

# Every fuzz target, a short fixed run each from its seeds and regression
# files (clang, libFuzzer with ASan and UBSan); each target counts as a test.
qb_log "fuzz smoke run"
QB_BUILD="$QB_BUILD" bash "$QB_ROOT/tools/fuzz.sh" --smoke >"$QB_BUILD/logs/fuzz.log" 2>&1 </dev/null
fuzz_rc=$?
fuzz_line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$QB_BUILD/logs/fuzz.log" | tail -1)
if [ -z "$fuzz_line" ]; then
  fail_run "fuzz smoke run: did not report (exit $fuzz_rc)"
  tail -20 "$QB_BUILD/logs/fuzz.log" >&2
else
  passed=$((passed + ${fuzz_line%% passed*}))
  fuzz_failed=${fuzz_line#*, }
  fuzz_failed=${fuzz_failed%% failed}
  failed=$((failed + fuzz_failed))
  if [ "$fuzz_failed" -ne 0 ] || [ "$fuzz_rc" -ne 0 ]; then
    problems+=("fuzz smoke run: $fuzz_failed failed (exit $fuzz_rc)")
    grep -E '^fuzz .*FAILED' "$QB_BUILD/logs/fuzz.log" >&2
    [ "$fuzz_failed" -eq 0 ] && failed=$((failed + 1))
  fi
fi
grep -E '^fuzz ' "$QB_BUILD/logs/fuzz.log" >&2

qb_stop_prefix
qb_make_prefix
if ! qb_install_into_prefix; then
  fail_run "install into the prefix"
else
  qb_log "Windows test program under Wine"
  (cd "$QB_WIN32" && xvfb-run -a sh -c 'wine quillbox_wintests.exe; rc=$?; wineserver -w; exit $rc') >"$QB_BUILD/logs/wintests.log" 2>&1 </dev/null
  count_gtest wintests "$QB_BUILD/logs/wintests.log" $?

  qb_log "script tests"
  for script in "$QB_ROOT"/tests/scripts/*.vbs "$QB_ROOT"/tests/scripts/*.js "$QB_ROOT"/tests/scripts/*.sh; do
    case "${script##*/}" in harness.* | lib.sh) continue ;; esac  # what the tests share
    [ -e "$script" ] && run_script "$script"
  done
fi
qb_stop_prefix

for p in "${problems[@]}"; do echo "problem: $p" >&2; done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
