' Mirror: a photo mirrored left to right (direction 1) and flipped top to
' bottom (direction 2), each written as PNG.
'
'   cscript //nologo mirror.vbs photo.jpg [output folder]
Option Explicit
Dim photo, folder, picture, mirror
photo = WScript.Arguments(0)
folder = OutputFolder()
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo

Set mirror = CreateObject("Quillbox.MirrorModifier.1")
mirror.Direction = 1
mirror.Apply(picture).SaveAs folder & "mirrored", ".png"
mirror.Direction = 2
mirror.Apply(picture).SaveAs folder & "flipped", ".png"
WScript.Echo "Wrote " & folder & "mirrored.png and " & folder & "flipped.png"

Function OutputFolder()
  If WScript.Arguments.Count > 1 Then
    OutputFolder = WScript.Arguments(1)
  Else
    OutputFolder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
  End If
  If Right(OutputFolder, 1) <> "\" Then OutputFolder = OutputFolder & "\"
End Function
