// A contact sheet: every modifier applied to one photo, each result saved
// as a PNG, and a page index.html that shows them side by side with
// captions.
//
//   cscript //nologo contact_sheet.js C:\photos\holiday.jpg C:\sheet
//
// Exits 1 when a modifier or a save fails, 2 on wrong arguments.
var args = WScript.Arguments;
if (args.length < 2) {
  WScript.Echo("usage: cscript //nologo contact_sheet.js photo.jpg outfolder");
  WScript.Quit(2);
}
var fso = new ActiveXObject("Scripting.FileSystemObject");
var here = fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName));
var photo = args(0), folder = args(1);

function hex(n) { return (n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase(); }
function make(progId, properties) {
  var m = new ActiveXObject(progId);
  for (var name in properties) m[name] = properties[name];
  return m;
}

var what = "make the folder " + folder, cells = [];
try {
  if (!fso.FolderExists(folder)) fso.CreateFolder(folder);
  what = "load " + photo;
  var picture = new ActiveXObject("Quillbox.VuPicture.1");
  picture.LoadFile(photo);
  var w = picture.Width, h = picture.Height;
  var mark = new ActiveXObject("Quillbox.VuPicture.1");
  what = "load watermark.png";
  mark.LoadFile(fso.BuildPath(here, "watermark.png"));
  var font = new ActiveXObject("StdFont");
  font.Name = "Tahoma";
  font.Size = 18;
  font.Bold = true;
  var text = make("Quillbox.AddText.1", {Text: "Quillbox", ForeColor: 0x00FFFF});  // yellow (BGR)
  text.Font = font;
  var pic = make("Quillbox.AddPic.1", {X: w - mark.Width - 12, Y: h - mark.Height - 12});
  pic.LoadPicFile(fso.BuildPath(here, "watermark.png"));
  pic.LoadMaskFile(fso.BuildPath(here, "watermark-mask.png"));
  var frame = new ActiveXObject("Quillbox.Frame.1");
  frame.LoadFrameFile(fso.BuildPath(here, "frame.png"));
  var shots = [
    ["bright", "Bright, brightness 40", make("Quillbox.Bright.1", {Brightness: 40})],
    ["contrast", "Contrast, contrast 40", make("Quillbox.Contrast.1", {Contrast: 40})],
    ["adjust_color", "AdjustColorModifier, hue 120", make("Quillbox.AdjustColorModifier.1", {Hue: 120})],
    ["sharp", "SharpModifier, level 5", make("Quillbox.SharpModifier.1", {Level: 5})],
    ["red_eye", "RedEye, upper left part",
     make("Quillbox.RedEye.1", {RectLeft: 0, RectTop: 0, RectWidth: Math.floor(w / 2), RectHeight: Math.floor(h / 3)})],
    ["mirror", "MirrorModifier, left to right", make("Quillbox.MirrorModifier.1", {Direction: 1})],
    ["crop", "Crop, the centre quarter",
     make("Quillbox.Crop.1", {RectLeft: Math.floor(w / 4), RectTop: Math.floor(h / 4),
                              RectWidth: Math.floor(w / 2), RectHeight: Math.floor(h / 2)})],
    ["blur", "BlurModifier, level 5", make("Quillbox.BlurModifier.1", {Level: 5})],
    ["zoom", "Zoom, half the size", make("Quillbox.Zoom.1", {Width: Math.floor(w / 2), Height: Math.floor(h / 2)})],
    ["rotate", "RotateModifier, 30 degrees", make("Quillbox.RotateModifier.1", {Angle: 30})],
    ["add_text", "AddText, yellow 18-point Tahoma", text],
    ["add_pic", "AddPic, watermark bottom right", pic],
    ["frame", "Frame, frame.png", frame]];
  for (var i = 0; i < shots.length; i++) {
    var name = shots[i][0], caption = shots[i][1];
    what = "apply " + name;
    var result = shots[i][2].Apply(picture);
    what = "save " + name + ".png";
    result.SaveAs(fso.BuildPath(folder, name), ".png");
    cells.push('<figure><img src="' + name + '.png" alt="' + caption + '"><figcaption>' + caption +
               "</figcaption></figure>");
    WScript.Echo("Saved " + name + ".png: " + caption + " (" + result.Width + " x " + result.Height + ")");
  }
  what = "write index.html";
  var title = "Contact sheet of " + fso.GetFileName(photo);
  var page = fso.CreateTextFile(fso.BuildPath(folder, "index.html"), true);
  page.Write("<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>" + title + "</title>\r\n" +
             "<style>body{font-family:sans-serif} figure{display:inline-block;margin:8px;text-align:center;" +
             "vertical-align:top} img{width:240px;border:1px solid #888}</style></head><body>\r\n" +
             "<h1>" + title + "</h1>\r\n" + cells.join("\r\n") + "\r\n</body></html>\r\n");
  page.Close();
} catch (err) {
  WScript.Echo("Cannot " + what + ": " + err.description + " (error " + hex(err.number) + ")");
  WScript.Quit(1);
}
WScript.Echo(cells.length + " pictures and " + fso.BuildPath(folder, "index.html"));
