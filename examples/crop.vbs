' Crop: cuts the centre quarter out of a photo, written as PNG.
'
'   cscript //nologo crop.vbs photo.jpg [output folder]
Option Explicit
Dim photo, folder, picture, crop, cut
photo = WScript.Arguments(0)
folder = OutputFolder()
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo

Set crop = CreateObject("Quillbox.Crop.1")
crop.RectLeft = picture.Width \ 4
crop.RectTop = picture.Height \ 4
crop.RectWidth = picture.Width \ 2
crop.RectHeight = picture.Height \ 2
Set cut = crop.Apply(picture)
cut.SaveAs folder & "cropped", ".png"
WScript.Echo "Wrote " & folder & "cropped.png, " & cut.Width & " x " & cut.Height

Function OutputFolder()
  If WScript.Arguments.Count > 1 Then
    OutputFolder = WScript.Arguments(1)
  Else
    OutputFolder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
  End If
  If Right(OutputFolder, 1) <> "\" Then OutputFolder = OutputFolder & "\"
End Function
