' Colour adjustment: turns the hue of a photo by 120 degrees, and makes a
' grey copy of it (saturation -100), each written as PNG.
'
'   cscript //nologo adjust_color.vbs photo.jpg [output folder]
Option Explicit
Dim photo, folder, picture, colour
photo = WScript.Arguments(0)
folder = OutputFolder()
Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo

Set colour = CreateObject("Quillbox.AdjustColorModifier.1")
colour.Hue = 120
colour.Apply(picture).SaveAs folder & "hue120", ".png"
colour.Hue = 0
colour.Saturation = -100
colour.Apply(picture).SaveAs folder & "grey", ".png"
WScript.Echo "Wrote " & folder & "hue120.png and " & folder & "grey.png"

Function OutputFolder()
  If WScript.Arguments.Count > 1 Then
    OutputFolder = WScript.Arguments(1)
  Else
    OutputFolder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
  End If
  If Right(OutputFolder, 1) <> "\" Then OutputFolder = OutputFolder & "\"
End Function
