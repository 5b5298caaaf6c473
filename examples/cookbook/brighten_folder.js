// Brightens every JPEG of a folder and saves each into another folder under
// the same name, as JPEG with the camera data (EXIF) of the photo kept.
//
//   cscript //nologo brighten_folder.js C:\photos C:\brighter [level]
//
// The level runs from -50 to 50 (default 20). Exits 1 when a photo cannot
// be loaded, brightened or saved, 2 on wrong arguments.
var args = WScript.Arguments;
if (args.length < 2) {
  WScript.Echo("usage: cscript //nologo brighten_folder.js infolder outfolder [level]");
  WScript.Quit(2);
}
var fso = new ActiveXObject("Scripting.FileSystemObject");
var inFolder = args(0), outFolder = args(1);
var level = args.length > 2 ? parseInt(args(2), 10) : 20;
if (isNaN(level)) {
  WScript.Echo("The level must be a number, not " + args(2));
  WScript.Quit(2);
}
if (!fso.FolderExists(inFolder)) {
  WScript.Echo("No such folder: " + inFolder);
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

var what = "make the folder " + outFolder, count = 0;
try {
  if (!fso.FolderExists(outFolder)) fso.CreateFolder(outFolder);
  what = "list the folder " + inFolder;
  var photos = photosOf(inFolder);
  what = "create Quillbox.Bright.1";
  var bright = new ActiveXObject("Quillbox.Bright.1");
  what = "set the level " + level;
  bright.Brightness = level;
  for (var i = 0; i < photos.length; i++) {
    what = "load " + photos[i];
    var picture = new ActiveXObject("Quillbox.VuPicture.1");
    picture.LoadFile(photos[i]);
    what = "brighten " + photos[i];
    var result = bright.Apply(picture);
    var base = fso.BuildPath(outFolder, fso.GetBaseName(photos[i]));
    what = "save " + base + ".jpg";
    result.SaveAs(base, ".jpg");
    WScript.Echo("Brightened " + fso.GetFileName(photos[i]) + " by " + bright.Brightness + ": " + base + ".jpg");
    count++;
  }
} catch (err) {
  WScript.Echo("Cannot " + what + ": " + err.description + " (error " + hex(err.number) + ")");
  WScript.Quit(1);
}
WScript.Echo(count + " photos brightened");
