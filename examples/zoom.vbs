' Resizes a photo to half and to twice its size and saves both as PNG.
' Each side is at least 5 and at most 10000 pixels; a larger size raises
' an error.
'
'   cscript //nologo zoom.vbs C:\photos\holiday.jpg [C:\output\folder]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo zoom.vbs photo.jpg [output folder]"
  WScript.Quit 2
End If

Dim photo, folder, picture, zoom, result
photo = WScript.Arguments(0)
folder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
If WScript.Arguments.Count > 1 Then folder = WScript.Arguments(1)
If Right(folder, 1) <> "\" Then folder = folder & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo
Set zoom = CreateObject("Quillbox.Zoom.1")

zoom.Width = picture.Width \ 2
zoom.Height = picture.Height \ 2
Set result = zoom.Apply(picture)
result.SaveAs folder & "zoom-half", ".png"
WScript.Echo "Zoomed to " & result.Width & " x " & result.Height & ": " & folder & "zoom-half.png"

zoom.Width = picture.Width * 2
zoom.Height = picture.Height * 2
Set result = zoom.Apply(picture)
result.SaveAs folder & "zoom-double", ".png"
WScript.Echo "Zoomed to " & result.Width & " x " & result.Height & ": " & folder & "zoom-double.png"

' Too large: the error the script gets.
zoom.Width = 20000
On Error Resume Next
Set result = zoom.Apply(picture)
WScript.Echo "20000 pixels wide: error " & Hex(Err.Number) & " from " & Err.Source
On Error GoTo 0
