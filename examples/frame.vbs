' Puts a frame around a photo and saves it as PNG. The frame is frame.png
' beside this script, stretched over the whole photo; the colour at its
' centre (magenta here) is the hole the photo shows through.
'
'   cscript //nologo frame.vbs C:\photos\holiday.jpg [C:\output\folder]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo frame.vbs photo.jpg [output folder]"
  WScript.Quit 2
End If

Dim photo, folder, here, picture, frame, result
photo = WScript.Arguments(0)
folder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
If WScript.Arguments.Count > 1 Then folder = WScript.Arguments(1)
If Right(folder, 1) <> "\" Then folder = folder & "\"
here = CreateObject("Scripting.FileSystemObject").GetParentFolderName(WScript.ScriptFullName) & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo
Set frame = CreateObject("Quillbox.Frame.1")
frame.LoadFrameFile here & "frame.png"
Set result = frame.Apply(picture)
result.SaveAs folder & "frame-result", ".png"
WScript.Echo "Framed: " & folder & "frame-result.png"
