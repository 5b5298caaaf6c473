# What the shell tests of this folder share: the build's Wine prefix and
# qb_winpath (tools/lib.sh), the counters and check, the output folder, the
# runs of cscript, and the closing line "N passed, N failed" that
# tools/test.sh counts. Each test sources it first; it expects QB_ROOT,
# QB_BUILD and QB_GOEXIF (tools/test.sh sets them up).
set -u
. "$QB_ROOT/tools/lib.sh"
passed=0
failed=0
# What the Wine programs the runs below start get in their environment
# besides this shell's: (LC_ALL=zh_CN.UTF-8) gives them code page 936.
wine_env=()

# check WHAT COMMAND...: one check, passed when COMMAND succeeds (its output
# is dropped).
check() {
  local what="$1"
  shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $what"
  fi
}

# out_folder NAME: $QB_BUILD/out/NAME, new and empty, as $out.
out_folder() {
  out="$QB_BUILD/out/$1"
  rm -rf "$out"
  mkdir -p "$out"
}

# run_cscript LOG SCRIPT ARGS...: runs SCRIPT (a Linux path) with cscript, its
# output in LOG without the CRs; returns cscript's exit code.
run_cscript() {
  local log="$1" script="$2" rc
  shift 2
  env "${wine_env[@]}" wine cscript //nologo "$(qb_winpath "$script")" "$@" </dev/null >"$log.crlf" 2>&1
  rc=$?
  tr -d '\r' <"$log.crlf" >"$log"
  rm -f "$log.crlf"
  return "$rc"
}

# add_counts NAME LOG: adds the counts of the closing line in LOG (a run of
# a test of its own) and shows its FAIL lines under NAME; one failure when
# LOG has no closing line. Leaves the run's failures in $reported.
add_counts() {
  local name="$1" log="$2" line
  line=$(tr -d '\r' <"$log" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    echo "FAIL $name did not report"
    reported=-1
    return 1
  fi
  tr -d '\r' <"$log" | grep '^FAIL' | sed "s/^FAIL /FAIL $name: /"
  reported=${line#*, }
  reported=${reported%% failed}
  passed=$((passed + ${line%% passed*}))
  failed=$((failed + reported))
}

# script_test LOG SCRIPT ARGS...: runs a VBScript or JScript test of this
# folder with its harness (qb_script_job) and adds its counts.
script_test() {
  local log="$1" script="$2"
  shift 2
  env "${wine_env[@]}" wine cscript //nologo "$(qb_script_job "$script")" "$@" </dev/null >"$log" 2>&1
  add_counts "${script##*/}" "$log"
}

finish() {
  echo "$passed passed, $failed failed"
  exit "$failed"
}
