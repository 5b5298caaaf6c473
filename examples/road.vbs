' Loads a photo, brightens it by 20, raises its contrast by 10 and reports
' what came out.
'
'   cscript //nologo road.vbs C:\photos\holiday.jpg
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo road.vbs photo.jpg"
  WScript.Quit 2
End If

Dim photo, picture, bright, contrast, brighter, result
photo = WScript.Arguments(0)

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

Set bright = CreateObject("Quillbox.Bright.1")
bright.Brightness = 20
Set brighter = bright.Apply(picture)

Set contrast = CreateObject("Quillbox.Contrast.1")
contrast.Contrast = 10
Set result = contrast.Apply(brighter)

WScript.Echo "Brightened by " & bright.Brightness & " and contrast raised by " & contrast.Contrast & ":"
WScript.Echo "  width     " & result.Width
WScript.Echo "  height    " & result.Height
WScript.Echo "  bit count " & result.BitCount
WScript.Echo "  file name " & result.FileName
