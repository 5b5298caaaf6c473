' Writes a caption onto a photo and saves it as PNG: the text in a font of
' the script's choice (any font the system has; characters it lacks, such
' as Chinese in a Latin font, come from a font that has them), in yellow,
' with its top-left corner 16 pixels in from the photo's top-left. The
' caption may be given as the third argument.
'
'   cscript //nologo caption.vbs C:\photos\holiday.jpg [C:\output\folder] ["caption"]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo caption.vbs photo.jpg [output folder] [caption]"
  WScript.Quit 2
End If

Dim photo, folder, picture, caption, font, result
photo = WScript.Arguments(0)
folder = CreateObject("Scripting.FileSystemObject").GetSpecialFolder(2).Path
If WScript.Arguments.Count > 1 Then folder = WScript.Arguments(1)
If Right(folder, 1) <> "\" Then folder = folder & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
picture.LoadFile photo

Set font = CreateObject("StdFont")
font.Name = "Tahoma"
font.Size = 18
font.Bold = True

Set caption = CreateObject("Quillbox.AddText.1")
caption.Text = "Palace of Heavenly Purity"
If WScript.Arguments.Count > 2 Then caption.Text = WScript.Arguments(2)
Set caption.Font = font
caption.ForeColor = RGB(255, 255, 0)  ' yellow
caption.X = 16
caption.Y = 16
Set result = caption.Apply(picture)
result.SaveAs folder & "caption-result", ".png"
WScript.Echo "Caption written at (" & caption.X & ", " & caption.Y & "): " & folder & "caption-result.png"
