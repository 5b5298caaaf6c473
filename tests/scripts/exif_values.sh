#!/bin/bash
# ExifValue and ExifTags against exiftool on every camera file: each tag
# exiftool lists in IFD0, ExifIFD and GPS (-n -G1) must be named by
# ExifTags and have the same value through ExifValue, read late-bound by one
# VBScript run over all files. Where exiftool's -n value is not the stored
# value, it is turned into it first: ShutterSpeedValue, ApertureValue and
# MaxApertureValue (exiftool gives seconds and F-numbers, the tags hold APEX
# values), GPSLatitude and GPSLongitude (compared with exiftool's signed
# Composite values), GPSTimeStamp (exiftool's h:m:s, the tag three
# rationals; one phone writes it as text, which exiftool reinterprets and
# ExifValue gives as stored, so that one is not compared). exiftool names a
# maker note by its kind (MakerNoteUnknownText), ExifTags MakerNote. A
# comment without a known character-code prefix is text up to its first
# zero byte for ExifValue, while exiftool keeps the bytes after it (and
# prints bytes that are not UTF-8 as "?"): the value must begin with
# ExifValue's. Binary
# values (CFAPattern, which exiftool decodes) are only checked to be there.
# exiftool keeps ten significant digits of a rational. Each file is one
# check. Needs QB_ROOT, QB_BUILD,
# QB_GOEXIF and the Wine prefix with Quillbox installed.
. "$QB_ROOT/tests/scripts/lib.sh"
out_folder exif_values
mkdir -p "$out/alone"

# Most camera files are cut short after their EXIF segment, and exiftool
# reads nothing of such a file; it reads the segment alone, put into a JPEG
# of its own. The picture reads the files as they are.
python3 - "$QB_GOEXIF" "$out" <<'EOF'
import glob, os, sys
root, out = sys.argv[1], sys.argv[2]
files = sorted(glob.glob(root + "/*.jpg") + glob.glob(root + "/samples/*.jpg") + glob.glob(root + "/corrupt/*.jpg"))
with open(out + "/files.txt", "w") as listed:
    for n, path in enumerate(files, 1):
        data = open(path, "rb").read()
        at = data.find(b"\xff\xe1")
        while at >= 0 and data[at + 4:at + 10] != b"Exif\0\0":
            at = data.find(b"\xff\xe1", at + 2)
        segment = b""
        if at >= 0:
            length = (data[at + 2] << 8) | data[at + 3]
            segment = data[at:at + 2 + length]
        open("%s/alone/%03d.jpg" % (out, n), "wb").write(b"\xff\xd8" + segment + b"\xff\xda\x00\x02\xff\xd9")
        listed.write(path + "\n")
EOF
sed 's|/|\\|g; s|^|Z:|; s|$|\r|' "$out/files.txt" >"$out/files-win.txt"
run_cscript "$out/dump.log" "$QB_ROOT/tests/scripts/exif_values/dump.vbs" "$(qb_winpath "$out/files-win.txt")" \
  "$(qb_winpath "$out/ours.txt")"
exiftool -n -j -a -G1 -IFD0:all -ExifIFD:all -GPS:all -Composite:GPSLatitude -Composite:GPSLongitude \
  "$out"/alone/*.jpg >"$out/exiftool.json" 2>/dev/null

python3 - "$out" <<'EOF'
import json, math, os, sys
out = sys.argv[1]
files = open(out + "/files.txt").read().split("\n")[:-1]
ours = {}
if os.path.exists(out + "/ours.txt"):
    for line in open(out + "/ours.txt", encoding="utf-16").read().splitlines():
        n, name, value = line.split("\t", 2)
        ours.setdefault(int(n), {})[name] = value
theirs = {}
for obj in json.load(open(out + "/exiftool.json")):
    theirs[int(os.path.basename(obj["SourceFile"])[:3])] = obj

def numbers(text):
    try:
        return [float(x) for x in str(text).split()]
    except ValueError:
        return None

def same(want, got):
    if want in ("inf", "undef", "-inf", "nan"):
        return got == "undef"
    a, b = numbers(want), numbers(got)
    if a is not None and b is not None and len(a) == len(b) and a:
        return all(math.isclose(x, y, rel_tol=1e-8, abs_tol=1e-12) for x, y in zip(a, b))
    return str(want).rstrip() == str(got).rstrip()

passed = failed = compared = 0
extras = {}
for n, path in enumerate(files, 1):
    tags = theirs.get(n, {})
    mine = ours.get(n, {})
    problems = []
    seen = set()
    for key, want in tags.items():
        group, _, name = key.partition(":")
        if group not in ("IFD0", "ExifIFD", "GPS") or name in seen:
            continue  # the first of a name counts: ExifValue looks in IFD0 first
        seen.add(name)
        compared += 1
        got = mine.get("MakerNote" if name.startswith("MakerNote") else name)
        if got is None:
            problems.append("%s missing (exiftool %r)" % (name, want))
            continue
        if got.startswith("<binary"):
            continue
        if name in ("ShutterSpeedValue",) and numbers(got):
            got = str(2 ** -numbers(got)[0]) if abs(numbers(got)[0]) < 100 else "0"
        elif name in ("ApertureValue", "MaxApertureValue") and numbers(got):
            got = str(2 ** (numbers(got)[0] / 2))
        elif name in ("GPSLatitude", "GPSLongitude"):
            want = tags.get("Composite:" + name, want)
        elif name == "GPSTimeStamp" and not numbers(got):
            continue
        elif name == "GPSTimeStamp" and ":" in str(want):
            h, m, s = (numbers(got) + [0, 0, 0])[:3]
            wh, wm, ws = (float(x) for x in str(want).split(":"))
            want, got = str(wh * 3600 + wm * 60 + ws), str(h * 3600 + m * 60 + s)
        if name == "UserComment" and any(ord(c) < 32 for c in str(want)) and \
                str(want).startswith("".join(c if ord(c) < 128 else "?" for c in got)):
            continue
        if not same(want, got):
            problems.append("%s: exiftool %r, ExifValue %r" % (name, want, got))
    if problems:
        failed += 1
        print("FAIL %s: %s" % (os.path.basename(path), "; ".join(problems)))
    else:
        passed += 1
    for name in set(mine) - seen - {"MakerNote"}:
        extras[name] = extras.get(name, 0) + 1
print("  %d tags compared in %d files; ExifTags also names (files): %s" %
      (compared, len(files), ", ".join("%s (%d)" % kv for kv in sorted(extras.items()))))
if compared < 300:
    failed += 1
    print("FAIL too few tags compared: the VBScript run or exiftool gave nothing (see dump.log)")
print("%d passed, %d failed" % (passed, failed))
sys.exit(failed)
EOF
