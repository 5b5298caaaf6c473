// The JScript form of names.vbs: photos whose names the ANSI code page
// cannot spell load, give their camera data, feed both loaders, and their
// brightened copies save under names of the same kind.
//
//   names.js FOLDER TAG NAME... (run with its harness: qb_script_job)
// Whether a call succeeds; the error of one that fails is shown.
function works(call) {
  var e = thrown(call);
  if (e.number != 0) WScript.Echo("  (" + e.description + ")");
  return e.number == 0;
}

var folder = WScript.Arguments(0) + "\\";
var tag = WScript.Arguments(1);
var bases = [];
for (var n = 2; n < WScript.Arguments.length; n++) bases.push(WScript.Arguments(n));
var bright = new ActiveXObject("Quillbox.Bright.1");
bright.Brightness = 20;
var overlay = new ActiveXObject("Quillbox.AddPic.1");
var frame = new ActiveXObject("Quillbox.Frame.1");

for (var i = 0; i < bases.length; i++) {
  var stem = folder + tag + "-" + bases[i];
  var photo = folder + bases[i] + ".jpg";
  var p = new ActiveXObject("Quillbox.VuPicture.1");
  check(works(function () { p.LoadFile(photo); }) && p.Width == 500 && p.Height == 375, "LoadFile of photo " + i);
  check(works(function () { p.ReadExif(photo); }) && p.CameraMake == "NIKON CORPORATION", "ReadExif of photo " + i);
  check(works(function () { overlay.LoadPicFile(photo); }), "the overlay loader takes photo " + i);
  check(works(function () { frame.LoadFrameFile(photo); }), "the frame loader takes photo " + i);
  var r = bright.Apply(p);
  check(works(function () { r.SaveAs(stem, ".jpg"); }), "SaveAs .jpg of photo " + i);
  check(works(function () { r.SaveFile(stem + "-kept.jpeg", 1); }), "SaveFile .jpeg of photo " + i);
  check(works(function () { r.SaveAs(stem, ".png"); }), "SaveAs .png of photo " + i);
  var saves = [".jpg", "-kept.jpeg", ".png"];
  for (var k = 0; k < saves.length; k++) {
    var q = new ActiveXObject("Quillbox.VuPicture.1");
    check(works(function () { q.LoadFile(stem + saves[k]); }) && q.Width == 500,
          "the " + saves[k] + " save of photo " + i + " loads back");
  }
}
finish();
