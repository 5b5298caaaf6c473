// Colour adjustment, sharpen, red-eye, mirror and crop as a script meets
// them: late-bound properties and Apply on a real photo, the results' sizes
// and names, a saved and reloaded cut-out, and the errors of empty sources.
try {
  var photo = WScript.Arguments(0);
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var picture = new ActiveXObject("Quillbox.VuPicture.1");
  picture.LoadFile(photo);
  var empty = new ActiveXObject("Quillbox.VuPicture.1");

  function sameShape(result, what) {
    check(result.HasImage == 1, what + ": the result holds an image");
    check(result.Width == picture.Width && result.Height == picture.Height, what + ": the photo's size");
    check(result.FileName == photo, what + ": the file name is passed on");
  }

  var colour = new ActiveXObject("Quillbox.AdjustColorModifier.1");
  colour.Hue = 120;
  colour.Lightness = 10;
  colour.Saturation = -100;
  sameShape(colour.Apply(picture), "AdjustColorModifier");
  check(errorOf(function () { return colour.Hue; }) != 0, "Hue is write-only");
  check(colour.Apply(empty).HasImage == 0, "AdjustColorModifier gives a picture without an image for an empty source");

  var sharp = new ActiveXObject("Quillbox.SharpModifier.1");
  sharp.Level = 17;
  check(sharp.Level == 17, "Level reads back unclamped");
  sameShape(sharp.Apply(picture), "SharpModifier");
  check(hex(errorOf(function () { sharp.Apply(empty); })) == "80004005", "Sharpen of an empty picture: E_FAIL");

  var redEye = new ActiveXObject("Quillbox.RedEye.1");
  redEye.RectLeft = 200;
  redEye.RectTop = 100;
  redEye.RectWidth = 1000;
  redEye.RectHeight = 40;
  redEye.Extra = 5;
  check(redEye.RectWidth == 1000 && redEye.Extra == 5, "RedEye reports its properties");
  sameShape(redEye.Apply(picture), "RedEye");
  check(hex(errorOf(function () { redEye.Apply(empty); })) == "8000FFFF", "RedEye of an empty picture: E_UNEXPECTED");

  var mirror = new ActiveXObject("Quillbox.MirrorModifier.1");
  mirror.Direction = 2;
  sameShape(mirror.Apply(picture), "MirrorModifier");
  check(mirror.PreHnd != 0, "MirrorModifier keeps a copy of its source");
  check(hex(errorOf(function () { mirror.Apply(empty); })) == "8000FFFF", "Mirror of an empty picture: E_UNEXPECTED");

  var crop = new ActiveXObject("Quillbox.Crop.1");
  crop.RectLeft = 100;
  crop.RectTop = 50;
  crop.RectWidth = 200;
  crop.RectHeight = 120;
  var cut = crop.Apply(picture);
  check(cut.Width == 200 && cut.Height == 120, "Crop gives the rectangle's size");
  var base = fso.BuildPath(fso.GetSpecialFolder(2).Path, "qb-crop-" + Math.floor(Math.random() * 1e9));
  cut.SaveAs(base, ".png");
  var back = new ActiveXObject("Quillbox.VuPicture.1");
  back.LoadFile(base + ".png");
  check(back.Width == 200 && back.Height == 120 && back.BitCount == 24, "the saved cut-out reloads at its size");
  fso.DeleteFile(base + ".png");
  check(crop.Apply(empty).HasImage == 0, "Crop of an empty picture: a picture without an image");
} catch (e) {
  unexpected(e);
}
finish();
