' Lays a watermark into the bottom right corner of a photo and saves it as
' PNG. The watermark is two pictures beside this script: watermark.png, the
' colours laid on the photo, and watermark-mask.png, whose grey levels say
' how much of them shows (white all, black nothing): here the word
' "Quillbox", fading from left to right.
'
'   cscript //nologo watermark.vbs C:\photos\holiday.jpg [C:\output\folder]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo watermark.vbs photo.jpg [output folder]"
  WScript.Quit 2
End If

Dim photo, folder, here, picture, watermark, mark, result
photo = WScript.Arguments(0)
folder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
If WScript.Arguments.Count > 1 Then folder = WScript.Arguments(1)
If Right(folder, 1) <> "\" Then folder = folder & "\"
here = CreateObject("Scripting.FileSystemObject").GetParentFolderName(WScript.ScriptFullName) & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo

' The overlay's size, to place it 12 pixels in from the corner.
Set mark = CreateObject("Quillbox.VuPicture.1")
mark.LoadFile here & "watermark.png"

Set watermark = CreateObject("Quillbox.AddPic.1")
watermark.LoadPicFile here & "watermark.png"
watermark.LoadMaskFile here & "watermark-mask.png"
watermark.X = picture.Width - mark.Width - 12
watermark.Y = picture.Height - mark.Height - 12
Set result = watermark.Apply(picture)
result.SaveAs folder & "watermark-result", ".png"
WScript.Echo "Watermark laid at (" & watermark.X & ", " & watermark.Y & "): " & folder & "watermark-result.png"
