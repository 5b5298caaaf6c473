// One zoom through COM: load a picture, zoom it to WIDTH x HEIGHT, save it
// as PNG; prints the seconds the Apply took (median of RUNS, default 1).
//
//   cscript //nologo zoom_to.js INPUT OUTBASE WIDTH HEIGHT [RUNS]
var args = WScript.Arguments;
var picture = new ActiveXObject("Quillbox.VuPicture.1");
picture.LoadFile(args(0));
var zoom = new ActiveXObject("Quillbox.Zoom.1");
zoom.Width = parseInt(args(2), 10);
zoom.Height = parseInt(args(3), 10);
var runs = args.length > 4 ? parseInt(args(4), 10) : 1;
var times = [], result;
for (var i = 0; i < runs; i++) {
  var start = new Date().getTime();
  result = zoom.Apply(picture);
  times.push((new Date().getTime() - start) / 1000);
}
result.SaveAs(args(1), ".png");
times.sort(function (a, b) { return a - b; });
WScript.Echo(times[Math.floor((runs - 1) / 2)].toFixed(3));
