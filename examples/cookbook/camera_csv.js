// Prints the camera data of every JPEG of a folder as CSV, one row a photo:
// file, make, model, date, exposure, aperture, focal length, flash.
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
WScript.Echo("file,make,model,date,exposure,aperture,focal length,flash");
for (var i = 0; i < photos.length; i++) {
  try {
    var p = new ActiveXObject("Quillbox.VuPicture.1");
    p.ReadExif(photos[i]);
    WScript.Echo([field(fso.GetFileName(photos[i])), field(p.CameraMake), field(p.CameraModel), field(p.DateTime),
                  field("1/" + p.ExposureTime), field("f/" + p.Aperture), field(p.FocalLength + " mm"),
                  field(p.FlashUsed)].join(","));
  } catch (err) {
    WScript.Echo("Cannot read the camera data of " + photos[i] + ": " + err.description +
                 " (error " + hex(err.number) + ")");
    WScript.Quit(1);
  }
}
