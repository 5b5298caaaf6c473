' Rotates a photo clockwise by 30 degrees (or the angle given) and saves it
' as PNG. The canvas grows to hold the whole turned photo; the corners it
' leaves are white.
'
'   cscript //nologo rotate.vbs C:\photos\holiday.jpg [C:\output\folder] [angle]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo rotate.vbs photo.jpg [output folder] [angle]"
  WScript.Quit 2
End If

Dim photo, folder, picture, rotate, result
photo = WScript.Arguments(0)
folder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
If WScript.Arguments.Count > 1 Then folder = WScript.Arguments(1)
If Right(folder, 1) <> "\" Then folder = folder & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo
Set rotate = CreateObject("Quillbox.RotateModifier.1")
rotate.Angle = 30
If WScript.Arguments.Count > 2 Then rotate.Angle = CLng(WScript.Arguments(2))
Set result = rotate.Apply(picture)
result.SaveAs folder & "rotate-result", ".png"
WScript.Echo "Rotated by " & rotate.Angle & " degrees: " & picture.Width & " x " & picture.Height & _
  " became " & result.Width & " x " & result.Height & ": " & folder & "rotate-result.png"
