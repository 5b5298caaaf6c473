// The checks every JScript test of this folder shares. Wine's cscript (8.0)
// runs no .wsf job, so qb_script_job (tools/lib.sh) writes this file and
// the test into one script, which cscript runs. The test ends with finish():
// the closing line "N passed, N failed" that the runner counts, and the
// failure count as the exit code. Wine's cscript shows no error that stops
// a script and exits with 0; such a test prints no closing line, and the
// runner counts that as a failure.
// A test catches what its checks did not expect and hands it to
// unexpected().
var passed = 0, failed = 0;

function check(condition, what) {
  if (condition) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAIL " + what);
  }
}

// An error number as Windows writes an HRESULT: 80004005.
function hex(n) {
  return ((n < 0 ? n + 0x100000000 : n)).toString(16).toUpperCase();
}

// The error a call throws; for a call that throws none, an error of number
// 0 with no description.
function thrown(call) {
  try {
    call();
  } catch (e) {
    return e;
  }
  return { number: 0, description: "" };
}

// The error number a call throws, 0 when it throws none.
function errorOf(call) {
  return thrown(call).number;
}

// An error no check expected: one failure.
function unexpected(e) {
  failed++;
  WScript.Echo("FAIL unexpected error " + hex(e.number) + " " + e.description);
}

function finish() {
  WScript.Echo(passed + " passed, " + failed + " failed");
  WScript.Quit(failed);
}
