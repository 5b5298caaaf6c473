#!/bin/bash
# The card player on a display: a card packed by ExportToCard from the
# built player shows the photo. The test build of the player
# (ShowreelTest.EXE, the same program with a screenshot switch) shows that
# card under a virtual X server, saves its client area as the screen shows
# it, and the picture part is
# compared with the photo as djpeg decodes it; the note is on the screen
# too (pixels under the picture that are not the window's background).
. "$QB_ROOT/tests/scripts/lib.sh"

out_folder showreel-test
work="$out"
photo="$QB_GOEXIF/sample1.jpg"
printf 'A note under the picture.\r\n' >"$work/note.txt"
cat >"$work/pack.js" <<'JS'
var a = WScript.Arguments;
try {
  new ActiveXObject("Quillbox.ExportToCard.1").PackCard(a(0), a(1), a(2));
  WScript.Echo("packed");
} catch (e) {
  WScript.Echo("pack failed " + e.number);
}
JS
run_cscript "$work/pack.log" "$work/pack.js" "$(qb_winpath "$photo")" "$(qb_winpath "$work/note.txt")" \
  "$(qb_winpath "$work/cards/photo.exe")"
check "PackCard makes the card ($(tr "\n" " " <"$work/pack.log"))" grep -qx packed "$work/pack.log"

# The player needs a display: the prefix is restarted under a virtual X
# server of 24 bits and stopped again afterwards.
qb_stop_prefix
shot="$work/shot.bmp"
report=$(cd "$work/cards" && xvfb-run -a -s "-screen 0 1280x1024x24" \
  bash -c 'wine "$1" /snapshot photo.exe "$2"; echo "exit $?"; wineserver -k; wineserver -w' _ \
  "$(qb_winpath "$QB_WIN32/ShowreelTest.EXE")" "$(qb_winpath "$shot")" 2>/dev/null | tr -d '\r\0')
echo "$report"
check "the player ran and saved its window" grep -qx 'exit 0' <<<"$report"
check "the window is titled with the picture's name" grep -qx 'title sample1.jpg' <<<"$report"
rect=$(sed -n 's/^picture //p' <<<"$report")

djpeg -ppm "$photo" >"$work/photo.ppm"
# Compares the picture rectangle of the screenshot with the decoded photo,
# scaled to it by nearest pixel; prints the mean difference per channel
# and the share of pixels under the picture that differ from the
# background (the note's text).
result=$(perl - "$shot" "$work/photo.ppm" $rect <<'PERL'
use strict; use warnings;
my ($bmp, $ppm, $l, $t, $r, $bottom) = @ARGV;
defined $bottom or do { print "no rectangle\n"; exit 1 };
local $/;
open my $f, '<:raw', $bmp or die; my $d = <$f>; close $f;
my ($off) = unpack 'V', substr($d, 10, 4);
my ($w, $h) = unpack 'l<l<', substr($d, 18, 8);
my ($bits) = unpack 'v', substr($d, 28, 2);
$bits == 24 or do { print "not 24 bits\n"; exit 1 };
my $stride = int(($w * 3 + 3) / 4) * 4;
sub shot { my ($x, $y) = @_; my $o = $off + ($h - 1 - $y) * $stride + 3 * $x;
           my ($bb, $g, $rr) = unpack 'CCC', substr($d, $o, 3); return ($rr, $g, $bb) }
open $f, '<:raw', $ppm or die; my $p = <$f>; close $f;
$p =~ s/^P6\s+(\d+)\s+(\d+)\s+255\s//s or die; my ($pw, $ph) = ($1, $2);
my ($sum, $n) = (0, 0);
for (my $y = $t; $y < $bottom; $y += 2) { for (my $x = $l; $x < $r; $x += 2) {
  my $sx = int(($x - $l) * $pw / ($r - $l)); my $sy = int(($y - $t) * $ph / ($bottom - $t));
  my @s = shot($x, $y); my @o = unpack 'CCC', substr($p, 3 * ($sy * $pw + $sx), 3);
  $sum += abs($s[$_] - $o[$_]) for 0..2; $n += 3 } }
my %bg; my ($ink, $all) = (0, 0);
for my $y ($bottom .. $h - 1) { for my $x (0 .. $w - 1) { my $c = join ',', shot($x, $y); $bg{$c}++; $all++ } }
my ($common) = sort { $bg{$b} <=> $bg{$a} } keys %bg;
$ink = $all - ($common ? $bg{$common} : 0);
printf "size %dx%d mean %.2f ink %d\n", $w, $h, $n ? $sum / $n : 999, $ink;
PERL
)
echo "$result"
read -r _ size _ mean _ ink <<<"$result"
check "the photo is shown whole at its own size ($rect)" test "$rect" = "0 0 500 375"
check "the window shows the photo's colours (mean difference ${mean:-none})" awk -v m="${mean:-999}" 'BEGIN { exit !(m < 4) }'
check "the note is written under the picture (${ink:-0} pixels)" test "${ink:-0}" -gt 50

# A card whose picture is of a format the player carries no code for says
# which format, instead of showing an empty window or a bare failure: one
# it does not know at all, and a HEIC, whose decoder the player does not
# carry and never loads from the card's folder, even when a libheif.dll
# lies there.
printf '\377\012\000\000not a picture the player reads' >"$work/photo.jxl"
cp "$QB_ROOT/tests/unit/heif/8bit.heic" "$work/photo.heic"
cp "$QB_WIN32/libheif.dll" "$QB_WIN32/libde265.dll" "$work/cards/"
for kind in jxl:JXL heic:HEIC; do
  ext=${kind%%:*}
  wine cscript //nologo "$(qb_winpath "$work/pack.js")" "$(qb_winpath "$work/photo.$ext")" \
    "$(qb_winpath "$work/note.txt")" "$(qb_winpath "$work/cards/$ext.exe")" >/dev/null
  said=$(cd "$work/cards" && xvfb-run -a wine "$(qb_winpath "$QB_WIN32/ShowreelTest.EXE")" /snapshot "$ext.exe" \
    "$(qb_winpath "$work/$ext.bmp")" 2>&1 >/dev/null | tr -d '\r')
  check "the player names the format it cannot show ($said)" \
    test "$said" = "This player cannot show pictures of this format: ${kind#*:}" -a ! -e "$work/$ext.bmp"
done
finish
