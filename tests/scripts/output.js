// ImageRender and ExportToCard through late binding: a card of the photo
// and a note, packed, measured and unpacked into a fresh folder; the
// failure values as script errors.
try {
  var photo = WScript.Arguments(0);
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var shell = new ActiveXObject("WScript.Shell");

  // Drawing: a success is a count, which reaches a script as plain success.
  var p = new ActiveXObject("Quillbox.VuPicture.1");
  p.LoadFile(photo);
  var render = new ActiveXObject("Quillbox.ImageRender.1");
  check(errorOf(function () { render.DrawPicture(p, 0, 0, 0, 100, 75, 0, 0, 500, 375); }) == 0,
        "DrawPicture binds its ten arguments");
  check(errorOf(function () { render.DrawHandle(p.Handle, 0, 0, 0, 100, 75, 0, 0, 500, 375); }) == 0,
        "DrawHandle binds its ten arguments");
  var empty = new ActiveXObject("Quillbox.VuPicture.1");
  check(errorOf(function () { render.DrawPicture(empty, 0, 0, 0, 10, 10, 0, 0, 10, 10); }) == 0,
        "an empty picture draws nothing and raises nothing");

  // The player beside the server, found through the registration.
  var clsid = shell.RegRead("HKCR\\Quillbox.ExportToCard.1\\CLSID\\");
  var server = shell.RegRead("HKCR\\CLSID\\" + clsid + "\\InprocServer32\\");
  var player = fso.BuildPath(fso.GetParentFolderName(server), "Showreel.EXE");
  check(fso.FileExists(player), "the player stands beside the server: " + player);

  var work = fso.BuildPath(fso.GetSpecialFolder(2).Path, "quillbox-script-card");
  if (fso.FolderExists(work)) fso.DeleteFolder(work, true);
  fso.CreateFolder(work);
  var notePath = fso.BuildPath(work, "note.txt");
  var note = fso.CreateTextFile(notePath, true);
  note.Write("Taken with a Nikon D2H.");
  note.Close();

  var exporter = new ActiveXObject("Quillbox.ExportToCard.1");
  exporter.Prepare();
  var card = fso.BuildPath(work, "cards\\photo card.exe");
  exporter.PackCard(photo, notePath, card);
  var expected = fso.GetFile(player).Size + 4 + 518 + fso.GetFile(photo).Size + 23 + 15;
  check(fso.FileExists(card) && fso.GetFile(card).Size == expected,
        "the card is the player, the two records and the trailer: " + expected);

  // A fresh object unpacks it beside a copy of the card.
  fso.CreateFolder(fso.BuildPath(work, "copy"));
  var copy = fso.BuildPath(work, "copy\\card.exe");
  fso.CopyFile(card, copy);
  new ActiveXObject("Quillbox.ExportToCard.1").UnpackCard(copy);
  var unpacked = fso.BuildPath(work, "copy\\" + fso.GetFileName(photo));
  check(fso.FileExists(unpacked) && fso.GetFile(unpacked).Size == fso.GetFile(photo).Size,
        "the photo comes out at its size");
  var back = fso.OpenTextFile(fso.BuildPath(work, "copy\\note.txt"), 1);
  check(back.ReadAll() == "Taken with a Nikon D2H.", "the note comes out as it went in");
  back.Close();
  var q = new ActiveXObject("Quillbox.VuPicture.1");
  q.LoadFile(unpacked);
  check(q.Width == 500 && q.Height == 375, "the unpacked photo loads");

  // Failures: existing files (-3), a missing extra file (E_FAIL, no card),
  // a missing card (success, nothing made).
  check(errorOf(function () { exporter.UnpackCard(copy); }) == -3, "unpacking over existing files fails with -3");
  var failedCard = fso.BuildPath(work, "failed.exe");
  check(hex(errorOf(function () { exporter.PackCard(photo, fso.BuildPath(work, "missing.txt"), failedCard); })) == "80004005",
        "a missing extra file fails the pack with E_FAIL");
  check(!fso.FileExists(failedCard), "and leaves no card");
  check(errorOf(function () { exporter.UnpackCard(fso.BuildPath(work, "none\\card.exe")); }) == 0,
        "a missing card is no error");
  check(!fso.FolderExists(fso.BuildPath(work, "none")), "and nothing is made for it");
  fso.DeleteFolder(work, true);
} catch (e) {
  unexpected(e);
}
finish();
