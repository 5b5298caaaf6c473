' What a script meets when it hands one picture's block to another, and
' when a call fails: the block is copied, never freed twice, a failed Save
' raises an error, and a failure never shows an earlier call's message.
Dim fso, folder, photo, p, q, back, target, code, readText, pasteText
Randomize
Set fso = CreateObject("Scripting.FileSystemObject")
folder = fso.BuildPath(fso.GetSpecialFolder(2).Path, "qb-handed-" & CStr(Int(Rnd * 1000000000)))
fso.CreateFolder folder
photo = WScript.Arguments(0)

Set p = CreateObject("Quillbox.VuPicture.1")
p.LoadFile photo
Set q = CreateObject("Quillbox.VuPicture.1")
q.AttachImage p.Handle
Check q.Handle <> p.Handle, "AttachImage of another picture's Handle takes a copy"
Check q.Width = p.Width And q.Height = p.Height, "the copy has the picture's size"
Set q = Nothing
Set q = CreateObject("Quillbox.VuPicture.1")
q.Handle = p.Handle
Check q.Handle <> p.Handle, "Handle set from another picture's Handle takes a copy"
Set q = Nothing

On Error Resume Next
p.SaveAs fso.BuildPath(folder, "after"), ".png"
code = Err.Number
On Error GoTo 0
Check code = 0, "the first picture still saves after the second is gone (error " & Hex(code) & ")"
Set back = CreateObject("Quillbox.VuPicture.1")
back.LoadFile fso.BuildPath(folder, "after.png")
Check back.Width = p.Width And back.Height = p.Height, "and saves its own picture"

' WebP and TIFF: saved by their extension, loaded back by their content.
Dim ext
For Each ext In Array(".webp", ".tif")
  p.SaveAs fso.BuildPath(folder, "copy"), ext
  Set back = CreateObject("Quillbox.VuPicture.1")
  back.LoadFile fso.BuildPath(folder, "copy" & ext)
  Check back.Width = p.Width And back.Height = p.Height And back.BitCount = 24, ext & " saves and loads back"
Next

' Save writes back over the picture's own file; over a read-only file it
' cannot, and says so.
target = fso.BuildPath(folder, "own.bmp")
p.SaveAs fso.BuildPath(folder, "own"), ".bmp"
p.LoadFile target
fso.GetFile(target).Attributes = 1
On Error Resume Next
p.Save
code = Err.Number
On Error GoTo 0
Check code <> 0, "Save over a read-only file raises an error"
fso.GetFile(target).Attributes = 0

' A failed camera-data read leaves its message; a later paste from an empty
' clipboard fails without it.
On Error Resume Next
p.ReadExif fso.BuildPath(folder, "missing.jpg")
readText = Err.Description
Err.Clear
Set q = CreateObject("Quillbox.VuPicture.1")
q.CopyToClipboard
p.PasteFromClipboard
code = Err.Number
pasteText = Err.Description
On Error GoTo 0
Check readText <> "", "a failed ReadExif has a message"
Check code <> 0, "PasteFromClipboard from an empty clipboard raises an error"
Check InStr(pasteText, readText) = 0, "the paste's error is not the read's: " & pasteText

fso.DeleteFolder folder, True
Finish
