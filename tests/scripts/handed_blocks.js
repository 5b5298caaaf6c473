// The same as handed_blocks.vbs, late-bound from JScript: a handed block is
// copied, a failed Save throws, and a failure never shows an earlier call's
// message.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = fso.BuildPath(fso.GetSpecialFolder(2).Path, "qb-handed-js-" + Math.floor(Math.random() * 1e9));
fso.CreateFolder(folder);
try {
  var p = new ActiveXObject("Quillbox.VuPicture.1");
  p.LoadFile(WScript.Arguments(0));
  var q = new ActiveXObject("Quillbox.VuPicture.1");
  q.AttachImage(p.Handle);
  check(q.Handle != p.Handle && q.Width == p.Width, "AttachImage of another picture's Handle takes a copy");
  q = null;
  CollectGarbage();
  check(errorOf(function () { p.SaveAs(fso.BuildPath(folder, "after"), ".png"); }) == 0,
        "the first picture still saves after the second is gone");
  var back = new ActiveXObject("Quillbox.VuPicture.1");
  back.LoadFile(fso.BuildPath(folder, "after.png"));
  check(back.Width == p.Width && back.Height == p.Height, "and saves its own picture");

  var target = fso.BuildPath(folder, "own.bmp");
  p.SaveAs(fso.BuildPath(folder, "own"), ".bmp");
  p.LoadFile(target);
  fso.GetFile(target).Attributes = 1;
  check(errorOf(function () { p.Save(); }) != 0, "Save over a read-only file throws");
  fso.GetFile(target).Attributes = 0;

  var read = thrown(function () { p.ReadExif(fso.BuildPath(folder, "missing.jpg")); });
  new ActiveXObject("Quillbox.VuPicture.1").CopyToClipboard();
  var paste = thrown(function () { p.PasteFromClipboard(); });
  check(read.number != 0 && read.description != "", "a failed ReadExif throws with a message");
  check(paste.number != 0, "PasteFromClipboard from an empty clipboard throws");
  check(paste.number == 0 || read.number == 0 || paste.description.indexOf(read.description) < 0,
        "the paste's error is not the read's: " + paste.description);
} catch (e) {
  unexpected(e);
}
fso.DeleteFolder(folder, true);
finish();
