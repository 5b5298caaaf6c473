// One operation end to end, as a script user times it: load the photo,
// apply the operation, save the result (JPEG, or PNG for "png"); five
// times, printing the median in seconds.
//
//   cscript //nologo one_operation.js PHOTO OUTDIR OPERATION
// OPERATION: brighten zoom rotate90 rotate30 blur crop mirror hue png
var args = WScript.Arguments;
var photo = args(0), out = args(1) + "\\ours-" + args(2), op = args(2);

function apply(picture) {
  var m;
  switch (op) {
    case "brighten": m = new ActiveXObject("Quillbox.Bright.1"); m.Brightness = 20; break;
    case "zoom":
      m = new ActiveXObject("Quillbox.Zoom.1");
      m.Width = Math.floor(picture.Width / 2); m.Height = Math.floor(picture.Height / 2); break;
    case "rotate90": m = new ActiveXObject("Quillbox.RotateModifier.1"); m.Angle = 90; break;
    case "rotate30": m = new ActiveXObject("Quillbox.RotateModifier.1"); m.Angle = 30; break;
    case "blur": m = new ActiveXObject("Quillbox.BlurModifier.1"); m.Level = 5; break;
    case "crop":
      m = new ActiveXObject("Quillbox.Crop.1");
      m.RectLeft = Math.floor(picture.Width / 4); m.RectTop = Math.floor(picture.Height / 4);
      m.RectWidth = Math.floor(picture.Width / 2); m.RectHeight = Math.floor(picture.Height / 2); break;
    case "mirror": m = new ActiveXObject("Quillbox.MirrorModifier.1"); m.Direction = 1; break;
    case "hue": m = new ActiveXObject("Quillbox.AdjustColorModifier.1"); m.Hue = 120; break;
    case "png": return picture;
    default: throw new Error("unknown operation " + op);
  }
  return m.Apply(picture);
}

var times = [];
for (var i = 0; i < 6; i++) {
  var start = new Date().getTime();
  var picture = new ActiveXObject("Quillbox.VuPicture.1");
  picture.LoadFile(photo);
  apply(picture).SaveAs(out, op == "png" ? ".png" : ".jpg");
  if (i > 0) times.push((new Date().getTime() - start) / 1000);  // the first warms the caches
}
times.sort(function (a, b) { return a - b; });
WScript.Echo(times[2].toFixed(3));
