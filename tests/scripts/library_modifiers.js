// Text colours and Zoom's limit in JScript, which reads unsigned colours
// and UTF-16 texts back whole. Arguments: the photo's Windows path, and
// "936" when the ANSI code page is 936 (code_page_936.sh). The limit's text
// is the Chinese its code page 936 bytes encode under either code page.
try {
  var p = new ActiveXObject("Quillbox.VuPicture.1");
  p.LoadFile(WScript.Arguments(0));

  var text = new ActiveXObject("Quillbox.AddText.1");
  check(text.ForeColor == 0xFFFFFF, "white at first, got " + hex(text.ForeColor));
  var colours = [0x123456, 0x80000005, 0x800000FF, 0x05ABCDEF];
  for (var i = 0; i < colours.length; i++) {
    text.ForeColor = colours[i];
    check(text.ForeColor == colours[i], "ForeColor " + hex(colours[i]) + " is stored as given, got " + hex(text.ForeColor));
    text.Text = "\u4E7E\u6E05\u5BAB Quillbox";
    var r = text.Apply(p);
    check(r.Width == 500 && r.Height == 375, "drawn in " + hex(colours[i]));
  }
  check(text.Text == "\u4E7E\u6E05\u5BAB Quillbox", "the text reads back whole");

  var zoom = new ActiveXObject("Quillbox.Zoom.1");
  zoom.Height = 10001;
  var failure = thrown(function () { zoom.Apply(p); });
  var expected = "\u5C3A\u5BF8\u592A\u5927\uFF0C\u65E0\u6CD5\u5904\u7406\uFF01";
  // Wine's JScript reports the exception's number as E_FAIL; VBScript sees
  // DISP_E_EXCEPTION itself (library_modifiers.vbs).
  check(failure.number != 0, "10001 pixels raise an exception");
  check(failure.description == expected, "the limit's text, got " + failure.description.length + " characters");
} catch (e) {
  unexpected(e);
}
finish();
