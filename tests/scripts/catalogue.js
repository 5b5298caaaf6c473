// Every class of the catalogue as a JScript client meets it: created by
// ProgID through IDispatch, late-bound calls and the errors they raise.
var classes = ["VuPicture", "SharpModifier", "BlurModifier", "Zoom", "ImageRender",
  "InputSource", "Contrast", "Bright", "Crop", "AddText", "Frame", "AddPic", "FolderInput",
  "ImageCollection", "ImageFinder", "ImageInputService", "ImageInputSource",
  "ImageInputSourceCollection", "ImageOutputService", "ImageOutputTarget",
  "ImageOutputTargetCollection", "RotateModifier", "FileInfoArray", "ImageFile", "RedEye",
  "ExportToCard", "MirrorModifier", "AdjustColorModifier", "WallPaper"];

try {
  check(classes.length == 29, "the catalogue has 29 classes");
  for (var i = 0; i < classes.length; i++) {
    var progIds = ["Quillbox." + classes[i] + ".1", "Quillbox." + classes[i]];
    for (var j = 0; j < progIds.length; j++) {
      var obj = null;
      var code = errorOf(function () { obj = new ActiveXObject(progIds[j]); });
      if (classes[i] == "FileInfoArray") {
        check(code != 0 && obj === null, progIds[j] + " is not an automation object");
      } else {
        check(code == 0 && obj !== null, "create " + progIds[j] + " (error " + hex(code) + ")");
      }
    }
  }

  check(errorOf(function () { new ActiveXObject("Quillbox.PictureModifier.1"); }) != 0,
        "Quillbox.PictureModifier.1 cannot be created");
  check(errorOf(function () { new ActiveXObject("Quillbox.FileInfo"); }) != 0,
        "Quillbox.FileInfo cannot be created");

  var card = new ActiveXObject("Quillbox.ExportToCard.1");
  check(errorOf(function () { card.Prepare(); }) == 0, "ExportToCard.Prepare");
  var wallpaper = new ActiveXObject("Quillbox.WallPaper");
  check(errorOf(function () { wallpaper.Execute(-1); }) == 0, "WallPaper.Execute");
  var service = new ActiveXObject("Quillbox.ImageOutputService");
  check(errorOf(function () { service.Prepare(); }) == 0, "ImageOutputService.Prepare");

  var picture = new ActiveXObject("Quillbox.VuPicture.1");
  var failure = thrown(function () { picture.LoadFile("C:\\no\\such\\photo.jpg"); });
  check(failure.number != 0, "a failed load raises an error");
  check(failure.description.length > 0, "the error carries a description");

  var zoom = new ActiveXObject("Quillbox.Zoom.1");
  check(hex(errorOf(function () { zoom.Apply(picture); })) == "80004005",
        "Zoom.Apply through the inherited interface fails on an empty picture");
} catch (e) {
  unexpected(e);
}
finish();
