' Photos whose names the ANSI code page cannot spell: each loads, gives its
' camera data, feeds both loaders of a picture file, and its brightened
' copy saves (both saves, spliced and plain) under names of the same kind.
'
'   names.vbs FOLDER TAG NAME... (run with its harness: qb_script_job)
' FOLDER holds the photos NAME.jpg; what is saved is named TAG-NAME... in
' it. (The names come as arguments: Wine's VBScript has no ChrW.)
Dim folder, tag, base, photo, p, r, q, bright, overlay, frame, saved, i
folder = WScript.Arguments(0) & "\"
tag = WScript.Arguments(1)
Set bright = CreateObject("Quillbox.Bright.1")
bright.Brightness = 20
Set overlay = CreateObject("Quillbox.AddPic.1")
Set frame = CreateObject("Quillbox.Frame.1")

On Error Resume Next
For i = 2 To WScript.Arguments.Count - 1
  base = folder & tag & "-" & WScript.Arguments(i)
  photo = folder & WScript.Arguments(i) & ".jpg"
  Set p = CreateObject("Quillbox.VuPicture.1")
  p.LoadFile photo
  Succeeded "LoadFile of photo " & i
  Check p.Width = 500 And p.Height = 375, "photo " & i & " is 500 x 375"
  p.ReadExif photo
  Succeeded "ReadExif of photo " & i
  Check p.CameraMake = "NIKON CORPORATION", "the camera data of photo " & i
  overlay.LoadPicFile photo
  Succeeded "the overlay loader takes photo " & i
  frame.LoadFrameFile photo
  Succeeded "the frame loader takes photo " & i
  Set r = bright.Apply(p)
  r.SaveAs base, ".jpg"
  Succeeded "SaveAs .jpg of photo " & i
  r.SaveFile base & "-kept.jpeg", 1
  Succeeded "SaveFile .jpeg of photo " & i
  r.SaveAs base, ".png"
  Succeeded "SaveAs .png of photo " & i
  For Each saved In Array(".jpg", "-kept.jpeg", ".png")
    Set q = CreateObject("Quillbox.VuPicture.1")
    q.LoadFile base & saved
    Succeeded "the " & saved & " save of photo " & i & " loads back"
    Check q.Width = 500, "the " & saved & " save of photo " & i & " has the photo's size"
  Next
Next

' A new file that cannot be written leaves nothing behind.
r.SaveAs base, ".xyz"
Check Err.Number <> 0, "an unknown format fails"
Err.Clear
On Error GoTo 0
Check Not CreateObject("Scripting.FileSystemObject").FileExists(base & ".xyz"), "and leaves no file"
Finish
