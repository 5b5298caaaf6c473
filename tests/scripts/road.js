// The first road in JScript: load, brighten, raise the contrast, the
// error text of a missing file and ErrorDetail, bytes through ADODB.Stream (compared in full: JScript keeps the UTF-16
// text that VBScript's console output would mangle).
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

  var failure = thrown(function () { p.LoadFile("C:\\no\\such\\photo.jpg"); });
  check(failure.number != 0, "a missing file raises an error");
  check(failure.description == "\u6253\u5F00\u56FE\u50CF\u6587\u4EF6\u5931\u8D25\uFF01",
        "the error text of a failed load");
  check(p.HasImage == 0, "the picture is empty after a failed load");
  // Wine's JScript reports the failed load as 0x80004005 (VBScript:
  // 0x80020009); ErrorDetail says why in English, with the path.
  check(hex(failure.number) == "80004005", "a failed load is 80004005 in JScript, got " + hex(failure.number));
  check(p.ErrorDetail.indexOf("C:\\no\\such\\photo.jpg") >= 0 && p.ErrorDetail.indexOf("does not exist") > 0,
        "ErrorDetail names the cause: " + p.ErrorDetail);

  // Bytes in and out through ADODB.Stream.
  p.LoadFile(photo);
  check(p.ErrorDetail == "", "a success clears ErrorDetail");
  var s = new ActiveXObject("ADODB.Stream");
  s.Type = 1;
  s.Open();
  s.Write(p.SaveBytes(".png"));
  s.Position = 0;
  var q = new ActiveXObject("Quillbox.VuPicture.1");
  q.LoadBytes(s.Read());
  check(q.Width == 500 && q.Height == 375 && q.FileName == "", "LoadBytes of ADODB.Stream.Read");
  var bytes = q.SaveBytes(".jpg");
  q.LoadBytes(bytes);
  check(q.HasImage == 1 && q.Quality == 90, "LoadBytes of a variable; Quality 90 by default");
  q.Quality = -3;
  check(q.Quality == 1, "Quality is clamped to 1, got " + q.Quality);
  var number = errorOf(function () { q.LoadBytes("not bytes"); });
  check(hex(number) == "80004005" && q.HasImage == 0, "a string is refused, got " + hex(number));
  check(q.ErrorDetail.indexOf("type 0x0008") > 0, "ErrorDetail names the Variant's type: " + q.ErrorDetail);
} catch (e) {
  unexpected(e);
}
finish();
