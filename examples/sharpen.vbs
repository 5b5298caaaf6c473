' Sharpen: a photo sharpened at level 5 (half the kernel's response),
' written as PNG.
'
'   cscript //nologo sharpen.vbs photo.jpg [output folder]
Option Explicit
Dim photo, folder, picture, sharp
photo = WScript.Arguments(0)
folder = OutputFolder()
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo

Set sharp = CreateObject("Quillbox.SharpModifier.1")
sharp.Level = 5
sharp.Apply(picture).SaveAs folder & "sharpened", ".png"
WScript.Echo "Wrote " & folder & "sharpened.png"

Function OutputFolder()
  If WScript.Arguments.Count > 1 Then
    OutputFolder = WScript.Arguments(1)
  Else
    OutputFolder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
  End If
  If Right(OutputFolder, 1) <> "\" Then OutputFolder = OutputFolder & "\"
End Function
