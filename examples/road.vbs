' The typical road: load a photo, print its camera data, brighten it by 20,
' raise its contrast by 10, save it as JPEG with the camera data kept and
' as PNG, then read the camera data back from the saved JPEG.
'
'   cscript //nologo road.vbs C:\photos\holiday.jpg [C:\output\folder]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo road.vbs photo.jpg [output folder]"
  WScript.Quit 2
End If

Sub PrintCameraData(title, p)
  WScript.Echo title
  WScript.Echo "  camera      " & p.CameraMake & " " & p.CameraModel
  WScript.Echo "  taken       " & p.DateTime
  WScript.Echo "  exposure    1/" & p.ExposureTime & " s, f/" & p.Aperture & ", " & p.FocalLength & " mm"
  WScript.Echo "  flash       " & p.FlashUsed
  WScript.Echo "  resolution  " & p.XResolution & " x " & p.YResolution & " dpi"
  WScript.Echo "  EXIF        " & p.ExifVersion
End Sub

Dim photo, folder, picture, bright, contrast, brighter, result, saved, base
photo = WScript.Arguments(0)
If WScript.Arguments.Count > 1 Then
  folder = WScript.Arguments(1)
Else
  folder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
End If
If Right(folder, 1) <> "\" Then folder = folder & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
On Error Resume Next
picture.LoadFile photo
If Err.Number <> 0 Then
  WScript.Echo "Cannot load " & photo & ": " & Err.Description
  WScript.Quit 1
End If
On Error GoTo 0
WScript.Echo "Loaded " & picture.FileName & ": " & picture.Width & " x " & picture.Height & _
  ", " & picture.BitCount & " bits"
picture.ReadExif photo
PrintCameraData "Camera data of the photo:", picture

Set bright = CreateObject("Quillbox.Bright.1")
bright.Brightness = 20
Set brighter = bright.Apply(picture)
Set contrast = CreateObject("Quillbox.Contrast.1")
contrast.Contrast = 10
Set result = contrast.Apply(brighter)
WScript.Echo "Brightened by " & bright.Brightness & " and contrast raised by " & contrast.Contrast & _
  ": " & result.Width & " x " & result.Height & ", " & result.BitCount & " bits"

base = folder & "road-result"
result.SaveAs base, ".jpg"
result.SaveAs base, ".png"
WScript.Echo "Saved " & base & ".jpg (camera data kept) and " & base & ".png"

Set saved = CreateObject("Quillbox.VuPicture.1")
saved.ReadExif base & ".jpg"
PrintCameraData "Camera data read back from " & base & ".jpg:", saved
