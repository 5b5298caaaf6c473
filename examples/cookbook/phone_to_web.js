// A phone's photo (HEIC, AVIF, JPEG, WebP, PNG or TIFF) made into a JPEG for
// the web: upright, at most 1600 pixels on its long side, quality 85, with
// the camera data (make, model, date, position) kept.
//
//   cscript //nologo phone_to_web.js photo.heic result.jpg [long side]
//
// A HEIC or AVIF comes in upright (its decoder applies the file's rotation);
// a JPEG, WebP, PNG or TIFF is turned as its EXIF orientation says. The
// saved JPEG's EXIF says orientation 1 either way. Exits 1 when the photo
// cannot be loaded, turned, resized or saved, 2 on wrong arguments.
var args = WScript.Arguments;
if (args.length < 2) {
  WScript.Echo("usage: cscript //nologo phone_to_web.js photo.heic result.jpg [long side]");
  WScript.Quit(2);
}
var fso = new ActiveXObject("Scripting.FileSystemObject");
var photo = args(0), target = args(1);
var longSide = args.length > 2 ? parseInt(args(2), 10) : 1600;
if (!fso.FileExists(photo)) {
  WScript.Echo("No such file: " + photo);
  WScript.Quit(2);
}

function hex(n) { return (n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase(); }

var what = "create Quillbox.VuPicture.1", picture = null, result = null;
try {
  picture = new ActiveXObject("Quillbox.VuPicture.1");
  what = "load " + photo;
  picture.LoadFile(photo);
  // The camera data, for the log; the save reads it again from the file.
  try { picture.ReadExif(photo); } catch (e) {}
  WScript.Echo("Loaded " + picture.CameraMake + " " + picture.CameraModel + ", " + picture.DateTime +
               ", orientation " + picture.Orientation);
  what = "turn " + photo + " upright";
  picture.AutoOrient();

  // Smaller only: a photo already within the long side keeps its size.
  result = picture;
  var side = Math.max(picture.Width, picture.Height);
  if (side > longSide) {
    what = "resize " + photo;
    var zoom = new ActiveXObject("Quillbox.Zoom.1");
    zoom.Width = Math.round(picture.Width * longSide / side);
    zoom.Height = Math.round(picture.Height * longSide / side);
    result = zoom.Apply(picture);
  }

  // SaveAs keeps the camera data in a JPEG.
  result.Quality = 85;
  var base = fso.BuildPath(fso.GetParentFolderName(fso.GetAbsolutePathName(target)), fso.GetBaseName(target));
  what = "save " + base + ".jpg";
  result.SaveAs(base, ".jpg");
} catch (err) {
  var detail = "";
  try { detail = (result || picture).ErrorDetail; } catch (e) {}
  WScript.Echo("Cannot " + what + ": " + (detail || err.description) + " (error " + hex(err.number) + ")");
  WScript.Quit(1);
}
WScript.Echo("Web-ready: " + result.Width + " x " + result.Height + ", " + base + ".jpg");
