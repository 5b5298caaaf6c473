' Red-eye removal: takes the red out of a rectangle (the left half of the
' photo's upper third, from the top-left corner as seen), written as PNG.
'
'   cscript //nologo red_eye.vbs photo.jpg [output folder]
Option Explicit
Dim photo, folder, picture, redEye
photo = WScript.Arguments(0)
folder = OutputFolder()
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo

Set redEye = CreateObject("Quillbox.RedEye.1")
redEye.RectLeft = 0
redEye.RectTop = 0
redEye.RectWidth = picture.Width \ 2
redEye.RectHeight = picture.Height \ 3
redEye.Apply(picture).SaveAs folder & "red_eye", ".png"
WScript.Echo "Wrote " & folder & "red_eye.png"

Function OutputFolder()
  If WScript.Arguments.Count > 1 Then
    OutputFolder = WScript.Arguments(1)
  Else
    OutputFolder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
  End If
  If Right(OutputFolder, 1) <> "\" Then OutputFolder = OutputFolder & "\"
End Function
