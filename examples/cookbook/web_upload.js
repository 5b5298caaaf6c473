// Makes an uploaded photo ready for the web without a temporary file, as a
// page that receives it does: the upload's bytes in, turned upright,
// resized to 1600 pixels on its long side, watermarked in the bottom right
// corner, and the JPEG's bytes out, camera data kept, at quality 85.
//
//   cscript //nologo web_upload.js upload.jpg result.jpg [overlay.png mask.png]
//
// In an ASP page the bytes come from Request.BinaryRead(Request.TotalBytes)
// and go to Response.BinaryWrite; here they are read from the upload file
// and written to the result, which may also be an http:// address that
// takes a PUT (a storage service). ADODB.Stream reads and writes the files;
// where it cannot (Wine's does not read or save files), the upload is read
// with MSXML2.XMLHTTP from its file:// address.
//
// Exits 1 when the upload cannot be read, edited or written, 2 on wrong
// arguments.
var args = WScript.Arguments;
if (args.length < 2) {
  WScript.Echo("usage: cscript //nologo web_upload.js upload.jpg result.jpg [overlay.png mask.png]");
  WScript.Quit(2);
}
var fso = new ActiveXObject("Scripting.FileSystemObject");
var here = fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName));
var upload = args(0), target = args(1);
var overlay = args.length > 2 ? args(2) : fso.BuildPath(here, "watermark.png");
var mask = args.length > 3 ? args(3) : fso.BuildPath(here, "watermark-mask.png");
if (!fso.FileExists(upload)) {
  WScript.Echo("No such file: " + upload);
  WScript.Quit(2);
}

// The bytes of a file, as an array of bytes. (A script cannot look inside
// such an array under Wine, not even with typeof: it is only handed on.)
function readBytes(path) {
  try {
    var stream = new ActiveXObject("ADODB.Stream");
    stream.Type = 1;
    stream.Open();
    stream.LoadFromFile(path);
    return stream.Read();
  } catch (err) {
    var http = new ActiveXObject("MSXML2.XMLHTTP");
    http.open("GET", "file://" + fso.GetAbsolutePathName(path).replace(/\\/g, "/"), false);
    http.send();
    return http.responseBody;
  }
}

// Writes an array of bytes to a file, or PUTs it to an http address.
function writeBytes(path, bytes) {
  if (/^https?:\/\//i.test(path)) {
    var http = new ActiveXObject("MSXML2.XMLHTTP");
    http.open("PUT", path, false);
    http.send(bytes);
    if (http.status < 200 || http.status > 299) throw new Error("the server answered " + http.status);
  } else {
    var stream = new ActiveXObject("ADODB.Stream");
    stream.Type = 1;
    stream.Open();
    stream.Write(bytes);
    stream.SaveToFile(path, 2);
  }
}

function hex(n) { return (n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase(); }

var what = "read the upload " + upload, picture = null;
try {
  var bytes = readBytes(upload);
  what = "load the upload " + upload;
  picture = new ActiveXObject("Quillbox.VuPicture.1");
  picture.LoadBytes(bytes);
  // Upright first, so that the size and the watermark's corner are the
  // ones viewers show.
  WScript.Echo("Orientation " + picture.Orientation + ", " + picture.Width + " x " + picture.Height);
  what = "turn the upload upright";
  picture.AutoOrient();

  what = "resize the upload";
  var zoom = new ActiveXObject("Quillbox.Zoom.1");
  var longSide = Math.max(picture.Width, picture.Height);
  zoom.Width = Math.round(picture.Width * 1600 / longSide);
  zoom.Height = Math.round(picture.Height * 1600 / longSide);
  var resized = zoom.Apply(picture);

  // The overlay's size, to place it 12 pixels in from the corner.
  what = "load the overlay " + overlay;
  picture = new ActiveXObject("Quillbox.VuPicture.1");
  picture.LoadFile(overlay);
  var watermark = new ActiveXObject("Quillbox.AddPic.1");
  watermark.LoadPicFile(overlay);
  watermark.LoadMaskFile(mask);
  watermark.X = resized.Width - picture.Width - 12;
  watermark.Y = resized.Height - picture.Height - 12;
  what = "lay the watermark";
  picture = resized;
  var result = watermark.Apply(resized);

  what = "encode the result";
  picture = result;
  result.Quality = 85;
  bytes = result.SaveBytes(".jpg");
  what = "write " + target + " (where ADODB.Stream cannot save files, give an http:// address)";
  picture = null;
  writeBytes(target, bytes);
} catch (err) {
  // The picture's own English reason, when it has one.
  var detail = picture ? picture.ErrorDetail : "";
  WScript.Echo("Cannot " + what + ": " + (detail || err.description || err.message || "no reason given") + " (error " + hex(err.number) + ")");
  WScript.Quit(1);
}
WScript.Echo("Web-ready: " + result.Width + " x " + result.Height + ", watermark at (" + watermark.X + ", " +
             watermark.Y + "), " + target);
