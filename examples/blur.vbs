' Blurs a photo and saves the result as PNG. The level runs from 1 (a
' faint softening) to 99; 5 gives a soft, still recognisable picture.
'
'   cscript //nologo blur.vbs C:\photos\holiday.jpg [C:\output\folder] [level]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo blur.vbs photo.jpg [output folder] [level]"
  WScript.Quit 2
End If

Dim photo, folder, picture, blur, result
photo = WScript.Arguments(0)
folder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
If WScript.Arguments.Count > 1 Then folder = WScript.Arguments(1)
If Right(folder, 1) <> "\" Then folder = folder & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo
Set blur = CreateObject("Quillbox.BlurModifier.1")
blur.Level = 5
If WScript.Arguments.Count > 2 Then blur.Level = CLng(WScript.Arguments(2))
Set result = blur.Apply(picture)
result.SaveAs folder & "blur-result", ".png"
WScript.Echo "Blurred at level " & blur.Level & ": " & folder & "blur-result.png"
