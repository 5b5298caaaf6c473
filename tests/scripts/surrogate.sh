#!/bin/bash
# 64-bit clients, served through the surrogate, in the build tree's 64-bit
# Wine prefix. install.cmd run from the 64-bit command prompt registers
# Quillbox for both kinds of program; the road and the examples of every
# modifier family (tone and colour, pixel, library), run by the 64-bit
# cscript, print and write byte for byte what the 32-bit cscript does with
# the server in process; a 64-bit program calling through the vtables gets
# what its 32-bit twin gets; the host ends after its last object, a new one
# serves the next activation, and one killed while in use is replaced
# (vtable_client life); after uninstall.cmd a 64-bit script cannot create
# the objects. Needs QB_ROOT, QB_BUILD and QB_GOEXIF.
. "$QB_ROOT/tests/scripts/lib.sh"

qb_use_win64_prefix
qb_stop_prefix  # a fresh session of the prefix
out_folder surrogate
work="$out"
mkdir -p "$work/32" "$work/64"
photo="$(qb_winpath "$QB_GOEXIF/sample1.jpg")"
# Output goes to files: a surrogate inherits its first client's Unix stderr
# (Wine passes it on to every process it starts) until it ends.
in32() { (cd "$QB_WIN32" && wine "$@") </dev/null; }
in64() { (cd "$QB_WIN32" && "$QB_WINE64" "$@") </dev/null; }

in64 cmd /c install.cmd >"$work/install.log" 2>&1
check "install.cmd from the 64-bit command prompt" test $? -eq 0
check "install.cmd says who serves 64-bit programs" grep -q 'served by QuillboxHost.exe' "$work/install.log"

# The run of NAME in process (32) and through the surrogate (64): the same
# words (the output folder aside) and the same files, byte for byte.
same() {
  local name="$1" a b f differ=0
  a=$(tr -d '\r' <"$work/32/$name.log")
  b=$(tr -d '\r' <"$work/64/$name.log")
  a=${a//"$(qb_winpath "$work/32")"/OUT}
  b=${b//"$(qb_winpath "$work/64")"/OUT}
  [ "$a" = "$b" ] || { differ=1; diff <(echo "$a") <(echo "$b") | head -5; }
  [ -n "$(ls "$work/32/$name")" ] || differ=1
  [ "$(ls "$work/32/$name")" = "$(ls "$work/64/$name")" ] || differ=1
  for f in "$work/32/$name"/*; do
    cmp -s "$f" "$work/64/$name/${f##*/}" || { differ=1; echo "differs: $name/${f##*/}"; }
  done
  check "$name through the surrogate gives what it gives in process" test "$differ" -eq 0
}

for script in road adjust_color sharpen red_eye mirror crop blur zoom rotate caption watermark frame; do
  mkdir -p "$work/32/$script" "$work/64/$script"
  in32 cscript //nologo "$(qb_winpath "$QB_ROOT/examples/$script.vbs")" "$photo" \
    "$(qb_winpath "$work/32/$script")" >"$work/32/$script.log" 2>&1
  in64 cscript //nologo "$(qb_winpath "$QB_ROOT/examples/$script.vbs")" "$photo" \
    "$(qb_winpath "$work/64/$script")" >"$work/64/$script.log" 2>&1
  same "$script"
done

mkdir -p "$work/32/vtable" "$work/64/vtable"
in32 vtable_client.exe road "$photo" "$(qb_winpath "$work/32/vtable/road")" >"$work/32/vtable.log" 2>&1
in64 vtable_client64.exe road "$photo" "$(qb_winpath "$work/64/vtable/road")" >"$work/64/vtable.log" 2>&1
same vtable

in64 vtable_client64.exe life "$photo" >"$work/life.log" 2>&1
rc=$?
add_counts "the host's life (exit $rc)" "$work/life.log" &&
  check "the host's life exits with its failure count ($rc)" test "$rc" -eq "$reported"

in64 cmd /c uninstall.cmd >"$work/uninstall.log" 2>&1
check "uninstall.cmd from the 64-bit command prompt" test $? -eq 0
cat >"$work/gone.js" <<'JS'
try {
  new ActiveXObject("Quillbox.VuPicture.1");
  WScript.Echo("created");
} catch (e) {
  WScript.Echo("not created");
}
JS
in64 cscript //nologo "$(qb_winpath "$work/gone.js")" 2>&1 | tr -d '\r' >"$work/gone.log"
check "after uninstall.cmd a 64-bit script cannot create the objects" grep -qx 'not created' "$work/gone.log"
# Installed again, as the benchmark finds it.
in64 cmd /c install.cmd >>"$work/install.log" 2>&1
qb_stop_prefix

finish
