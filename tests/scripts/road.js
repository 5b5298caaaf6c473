// The first road in JScript: load, brighten, raise the contrast, and the
// error text of a missing file (compared in full: JScript keeps the UTF-16
// text that VBScript's console output would mangle).
var passed = 0, failed = 0;

function check(condition, what) {
  if (condition) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAIL " + what);
  }
}

function hex(n) {
  return ((n < 0 ? n + 0x100000000 : n)).toString(16).toUpperCase();
}

try {
  var photo = WScript.Arguments(0);
  var p = new ActiveXObject("Quillbox.VuPicture.1");
  p.LoadFile(photo);
  check(p.Width == 500 && p.Height == 375 && p.BitCount == 24, "the photo is 500 x 375 x 24");

  var b = new ActiveXObject("Quillbox.Bright.1");
  b.Brightness = 20;
  var r = b.Apply(p);
  check(r.Width == 500 && r.Height == 375, "Bright.Apply keeps the size");
  var c = new ActiveXObject("Quillbox.Contrast.1");
  c.Contrast = -70;
  check(c.Contrast == -50, "Contrast is clamped to -50, got " + c.Contrast);
  var r2 = c.Apply(r);
  check(r2.BitCount == 24 && r2.FileName == photo, "Contrast.Apply keeps bits and name");

  var description = "", number = 0;
  try {
    p.LoadFile("C:\\no\\such\\photo.jpg");
  } catch (e) {
    number = e.number;
    description = e.description;
  }
  check(number != 0, "a missing file raises an error");
  check(description == "\u6253\u5F00\u56FE\u50CF\u6587\u4EF6\u5931\u8D25\uFF01",
        "the error text of a failed load");
  check(p.HasImage == 0, "the picture is empty after a failed load");
} catch (e) {
  failed++;
  WScript.Echo("FAIL unexpected error " + hex(e.number) + " " + e.description);
}

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
