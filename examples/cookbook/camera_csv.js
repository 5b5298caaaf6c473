// Prints the camera data of every JPEG of a folder as CSV, one row a photo:
// file, make, model, date, exposure, aperture, focal length, flash, ISO,
// lens, and the GPS position as signed decimal degrees (south and west
// negative). A value the photo does not have is left empty.
//
//   cscript //nologo camera_csv.js C:\photos > camera.csv
//
// Exits 1 when the camera data of a photo cannot be read, 2 on wrong
// arguments.
var args = WScript.Arguments;
if (args.length < 1) {
  WScript.Echo("usage: cscript //nologo camera_csv.js folder");
  WScript.Quit(2);
}
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = args(0);
if (!fso.FolderExists(folder)) {
  WScript.Echo("No such folder: " + folder);
  WScript.Quit(2);
}

// The JPEGs of a folder, by full path. (Wine's JScript cannot enumerate a
// folder's Files collection; the shell's folder items can be indexed.)
function photosOf(folder) {
  var items = new ActiveXObject("Shell.Application").NameSpace(fso.GetAbsolutePathName(folder)).Items();
  var photos = [];
  for (var i = 0; i < items.Count; i++) {
    var path = items.Item(i).Path;
    var ext = fso.GetExtensionName(path).toLowerCase();
    if (fso.FileExists(path) && (ext == "jpg" || ext == "jpeg")) photos.push(path);
  }
  return photos.sort();
}

function hex(n) { return (n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase(); }
// ExifValue gives undefined (Empty) for a tag the photo does not have, null
// for a rational without a denominator, and a VBArray for several values
// (a camera may write ISO twice: the first is taken).
function exif(picture, tag) {
  var v = picture.ExifValue(tag);
  if (typeof v == "unknown") v = new VBArray(v).toArray()[0];
  return v == null ? "" : v;
}
// "1/125" for 1/125 s and shorter, "2 s" for longer; empty when the photo
// has no ExposureTime.
function exposure(picture) {
  var t = exif(picture, "ExposureTime");
  if (t === "" || t <= 0) return "";
  return t <= 0.5 ? "1/" + Math.round(1 / t) : t + " s";
}
// The F-number (f/4.5); empty when the photo has none.
function aperture(picture) {
  var f = exif(picture, "FNumber");
  if (f === "") return picture.Aperture != 0 ? "f/" + picture.Aperture : "";
  return f > 0 ? "f/" + f : "";
}
// Degrees rounded to six places (about 10 cm); empty when absent.
function degrees(picture, tag) {
  var d = exif(picture, tag);
  return d === "" ? "" : String(Math.round(d * 1e6) / 1e6);
}
function field(value) {
  var text = String(value).replace(/^\s+|\s+$/g, "");
  return /[,"]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
}

var photos;
try {
  photos = photosOf(folder);
} catch (err) {
  WScript.Echo("Cannot list the folder " + folder + ": " + err.description + " (error " + hex(err.number) + ")");
  WScript.Quit(1);
}
WScript.Echo("file,make,model,date,exposure,aperture,focal length,flash,ISO,lens,latitude,longitude");
for (var i = 0; i < photos.length; i++) {
  try {
    var p = new ActiveXObject("Quillbox.VuPicture.1");
    p.ReadExif(photos[i]);
    WScript.Echo([field(fso.GetFileName(photos[i])), field(p.CameraMake), field(p.CameraModel), field(p.DateTime),
                  field(exposure(p)), field(aperture(p)), field(p.FocalLength != 0 ? p.FocalLength + " mm" : ""),
                  field(p.FlashUsed), field(exif(p, "ISO")), field(exif(p, "LensModel")),
                  field(degrees(p, "GPSLatitude")), field(degrees(p, "GPSLongitude"))].join(","));
  } catch (err) {
    WScript.Echo("Cannot read the camera data of " + photos[i] + ": " + err.description +
                 " (error " + hex(err.number) + ")");
    WScript.Quit(1);
  }
}
