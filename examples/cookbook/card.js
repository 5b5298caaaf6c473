// Makes a card of a photo with a note: a copy of the player that shows the
// photo and the note under it when it is run. The note is written into a
// text file beside the card.
//
//   cscript //nologo card.js C:\photos\holiday.jpg C:\cards\holiday.exe "A note"
//
// Exits 1 when the card cannot be packed, 2 on wrong arguments.
var args = WScript.Arguments;
if (args.length < 3) {
  WScript.Echo('usage: cscript //nologo card.js photo.jpg card.exe "note"');
  WScript.Quit(2);
}
var fso = new ActiveXObject("Scripting.FileSystemObject");
var photo = args(0), card = args(1), text = args(2);
if (!fso.FileExists(photo)) {
  WScript.Echo("No such photo: " + photo);
  WScript.Quit(2);
}

function hex(n) { return (n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase(); }

// The note goes into a file named after the card; PackCard makes the
// card's missing folders, the note needs its folder first.
var cardFolder = fso.GetParentFolderName(card);
var notePath = fso.BuildPath(cardFolder, fso.GetBaseName(card) + "-note.txt");
try {
  if (!fso.FolderExists(cardFolder)) fso.CreateFolder(cardFolder);
  var note = fso.CreateTextFile(notePath, true);
  note.WriteLine(text);
  note.Close();
} catch (err) {
  WScript.Echo("Cannot write the note " + notePath + ": " + err.description + " (error " + hex(err.number) + ")");
  WScript.Quit(1);
}

try {
  new ActiveXObject("Quillbox.ExportToCard.1").PackCard(photo, notePath, card);
} catch (err) {
  WScript.Echo("Cannot pack the card " + card + ": error " + hex(err.number) + " " + err.description);
  WScript.Quit(1);
}
WScript.Echo("Packed " + card + " (" + fso.GetFile(card).Size + " bytes) with " + fso.GetFileName(photo) +
             " and " + fso.GetFileName(notePath) + ": run it to see the photo");
