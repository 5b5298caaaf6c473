// Lays a watermark into the bottom right corner of every JPEG of a folder
// and saves each into another folder under the same name, as JPEG with the
// camera data kept. The watermark is an overlay picture and a mask whose
// grey levels say how much of it shows (white all, black nothing); they
// default to watermark.png and watermark-mask.png of the examples folder.
//
//   cscript //nologo watermark_folder.js C:\photos C:\marked [overlay.png mask.png]
//
// Exits 1 when a picture cannot be loaded, marked or saved, 2 on wrong
// arguments.
var args = WScript.Arguments;
if (args.length < 2) {
  WScript.Echo("usage: cscript //nologo watermark_folder.js infolder outfolder [overlay.png mask.png]");
  WScript.Quit(2);
}
var fso = new ActiveXObject("Scripting.FileSystemObject");
var here = fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName));
var inFolder = args(0), outFolder = args(1);
var overlay = args.length > 2 ? args(2) : fso.BuildPath(here, "watermark.png");
var mask = args.length > 3 ? args(3) : fso.BuildPath(here, "watermark-mask.png");
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
  // The overlay's size, to place it 12 pixels in from the corner.
  what = "load the overlay " + overlay;
  var mark = new ActiveXObject("Quillbox.VuPicture.1");
  mark.LoadFile(overlay);
  var watermark = new ActiveXObject("Quillbox.AddPic.1");
  watermark.LoadPicFile(overlay);
  what = "load the mask " + mask;
  watermark.LoadMaskFile(mask);
  for (var i = 0; i < photos.length; i++) {
    what = "load " + photos[i];
    var picture = new ActiveXObject("Quillbox.VuPicture.1");
    picture.LoadFile(photos[i]);
    what = "lay the watermark on " + photos[i];
    watermark.X = picture.Width - mark.Width - 12;
    watermark.Y = picture.Height - mark.Height - 12;
    var result = watermark.Apply(picture);
    var base = fso.BuildPath(outFolder, fso.GetBaseName(photos[i]));
    what = "save " + base + ".jpg";
    result.SaveAs(base, ".jpg");
    WScript.Echo("Watermark laid at (" + watermark.X + ", " + watermark.Y + "): " + base + ".jpg");
    count++;
  }
} catch (err) {
  WScript.Echo("Cannot " + what + ": " + err.description + " (error " + hex(err.number) + ")");
  WScript.Quit(1);
}
WScript.Echo(count + " photos marked");
