' A phone's photo (HEIC, AVIF, JPEG, WebP, PNG or TIFF) made into a JPEG for
' the web: upright, at most 1600 pixels on its long side, quality 85, with
' the camera data (make, model, date, position) kept.
'
'   cscript //nologo phone_to_web.vbs photo.heic result.jpg [long side]
'
' A HEIC or AVIF comes in upright (its decoder applies the file's rotation);
' a JPEG, WebP, PNG or TIFF is turned as its EXIF orientation says. The
' saved JPEG's EXIF says orientation 1 either way. Exits 1 when the photo
' cannot be loaded, turned, resized or saved, 2 on wrong arguments.
Option Explicit

Dim fso, photo, target, longSide, picture, zoom, result, side, base
Set fso = CreateObject("Scripting.FileSystemObject")
If WScript.Arguments.Count < 2 Then
  WScript.Echo "usage: cscript //nologo phone_to_web.vbs photo.heic result.jpg [long side]"
  WScript.Quit 2
End If
photo = WScript.Arguments(0)
target = WScript.Arguments(1)
longSide = 1600
If WScript.Arguments.Count > 2 Then longSide = CLng(WScript.Arguments(2))
If Not fso.FileExists(photo) Then
  WScript.Echo "No such file: " & photo
  WScript.Quit 2
End If

Sub Fail(what, picture)
  Dim detail
  detail = ""
  If IsObject(picture) Then detail = picture.ErrorDetail
  If detail = "" Then detail = Err.Description
  WScript.Echo "Cannot " & what & ": " & detail & " (error " & Hex(Err.Number) & ")"
  WScript.Quit 1
End Sub

On Error Resume Next
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo
If Err.Number <> 0 Then Fail "load " & photo, picture
' The camera data, for the log; the save reads it again from the file.
picture.ReadExif photo
Err.Clear
WScript.Echo "Loaded " & picture.CameraMake & " " & picture.CameraModel & ", " & picture.DateTime & _
  ", orientation " & picture.Orientation
picture.AutoOrient
If Err.Number <> 0 Then Fail "turn " & photo & " upright", picture

' Smaller only: a photo already within the long side keeps its size.
Set result = picture
side = picture.Width
If picture.Height > side Then side = picture.Height
If side > longSide Then
  Set zoom = CreateObject("Quillbox.Zoom.1")
  zoom.Width = Round(picture.Width * longSide / side)
  zoom.Height = Round(picture.Height * longSide / side)
  Set result = zoom.Apply(picture)
  If Err.Number <> 0 Then Fail "resize " & photo, picture
End If

' SaveAs keeps the camera data in a JPEG.
result.Quality = 85
base = fso.BuildPath(fso.GetParentFolderName(fso.GetAbsolutePathName(target)), fso.GetBaseName(target))
result.SaveAs base, ".jpg"
If Err.Number <> 0 Then Fail "save " & base & ".jpg", result
On Error GoTo 0
WScript.Echo "Web-ready: " & result.Width & " x " & result.Height & ", " & base & ".jpg"
