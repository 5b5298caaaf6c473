// The same as handed_blocks.vbs, late-bound from JScript: a handed block is
// copied, a failed Save throws, and a failure never shows an earlier call's
// message.
var passed = 0, failed = 0;

function check(condition, what) {
  if (condition) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAIL " + what);
  }
}

// The error a call throws, or null.
function thrown(call) {
  try {
    call();
  } catch (e) {
    return e;
  }
  return null;
}

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
  check(thrown(function () { p.SaveAs(fso.BuildPath(folder, "after"), ".png"); }) === null,
        "the first picture still saves after the second is gone");
  var back = new ActiveXObject("Quillbox.VuPicture.1");
  back.LoadFile(fso.BuildPath(folder, "after.png"));
  check(back.Width == p.Width && back.Height == p.Height, "and saves its own picture");

  var target = fso.BuildPath(folder, "own.bmp");
  p.SaveAs(fso.BuildPath(folder, "own"), ".bmp");
  p.LoadFile(target);
  fso.GetFile(target).Attributes = 1;
  check(thrown(function () { p.Save(); }) !== null, "Save over a read-only file throws");
  fso.GetFile(target).Attributes = 0;

  var read = thrown(function () { p.ReadExif(fso.BuildPath(folder, "missing.jpg")); });
  new ActiveXObject("Quillbox.VuPicture.1").CopyToClipboard();
  var paste = thrown(function () { p.PasteFromClipboard(); });
  check(read !== null && read.description != "", "a failed ReadExif throws with a message");
  check(paste !== null, "PasteFromClipboard from an empty clipboard throws");
  check(paste === null || read === null || paste.description.indexOf(read.description) < 0,
        "the paste's error is not the read's: " + (paste && paste.description));
} catch (e) {
  failed++;
  WScript.Echo("FAIL unexpected error " + e.number + ": " + e.description);
}
fso.DeleteFolder(folder, true);
WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
