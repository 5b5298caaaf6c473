' A contact sheet: every modifier applied to one photo, each result saved
' as a PNG, and a page index.html that shows them side by side with
' captions.
'
'   cscript //nologo contact_sheet.vbs C:\photos\holiday.jpg C:\sheet
'
' Exits 1 when a modifier or a save fails, 2 on wrong arguments.
Option Explicit

Dim fso, here, photo, folder, picture, m, mark, font, cells, count
Set fso = CreateObject("Scripting.FileSystemObject")
If WScript.Arguments.Count < 2 Then
  WScript.Echo "usage: cscript //nologo contact_sheet.vbs photo.jpg outfolder"
  WScript.Quit 2
End If
here = fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName))
photo = WScript.Arguments(0)
folder = WScript.Arguments(1)

Sub Check(what)
  If Err.Number <> 0 Then
    WScript.Echo "Cannot " & what & ": " & Err.Description & " (error " & Hex(Err.Number) & ")"
    WScript.Quit 1
  End If
End Sub

' Applies the modifier m to the photo, saves the result as name.png and
' adds it to the page.
Sub Shot(name, caption)
  Dim result
  Set result = m.Apply(picture)
  Check "apply " & name
  result.SaveAs fso.BuildPath(folder, name), ".png"
  Check "save " & name & ".png"
  cells = cells & "<figure><img src=""" & name & ".png"" alt=""" & caption & """>" & _
    "<figcaption>" & caption & "</figcaption></figure>" & vbCrLf
  count = count + 1
  WScript.Echo "Saved " & name & ".png: " & caption & " (" & result.Width & " x " & result.Height & ")"
End Sub

On Error Resume Next
If Not fso.FolderExists(folder) Then fso.CreateFolder folder
Check "make the folder " & folder
Set picture = CreateObject("Quillbox.VuPicture.1")
Check "create Quillbox.VuPicture.1"
picture.LoadFile photo
Check "load " & photo
cells = ""
count = 0

Set m = CreateObject("Quillbox.Bright.1") : m.Brightness = 40
Shot "bright", "Bright, brightness 40"
Set m = CreateObject("Quillbox.Contrast.1") : m.Contrast = 40
Shot "contrast", "Contrast, contrast 40"
Set m = CreateObject("Quillbox.AdjustColorModifier.1") : m.Hue = 120
Shot "adjust_color", "AdjustColorModifier, hue 120"
Set m = CreateObject("Quillbox.SharpModifier.1") : m.Level = 5
Shot "sharp", "SharpModifier, level 5"
Set m = CreateObject("Quillbox.RedEye.1")
m.RectLeft = 0 : m.RectTop = 0 : m.RectWidth = picture.Width \ 2 : m.RectHeight = picture.Height \ 3
Shot "red_eye", "RedEye, upper left part"
Set m = CreateObject("Quillbox.MirrorModifier.1") : m.Direction = 1
Shot "mirror", "MirrorModifier, left to right"
Set m = CreateObject("Quillbox.Crop.1")
m.RectLeft = picture.Width \ 4 : m.RectTop = picture.Height \ 4
m.RectWidth = picture.Width \ 2 : m.RectHeight = picture.Height \ 2
Shot "crop", "Crop, the centre quarter"
Set m = CreateObject("Quillbox.BlurModifier.1") : m.Level = 5
Shot "blur", "BlurModifier, level 5"
Set m = CreateObject("Quillbox.Zoom.1") : m.Width = picture.Width \ 2 : m.Height = picture.Height \ 2
Shot "zoom", "Zoom, half the size"
Set m = CreateObject("Quillbox.RotateModifier.1") : m.Angle = 30
Shot "rotate", "RotateModifier, 30 degrees"
Set font = CreateObject("StdFont")
font.Name = "Tahoma" : font.Size = 18 : font.Bold = True
Set m = CreateObject("Quillbox.AddText.1")
m.Text = "Quillbox" : Set m.Font = font : m.ForeColor = RGB(255, 255, 0)
Shot "add_text", "AddText, yellow 18-point Tahoma"
Set mark = CreateObject("Quillbox.VuPicture.1")
mark.LoadFile fso.BuildPath(here, "watermark.png")
Check "load watermark.png"
Set m = CreateObject("Quillbox.AddPic.1")
m.LoadPicFile fso.BuildPath(here, "watermark.png")
m.LoadMaskFile fso.BuildPath(here, "watermark-mask.png")
m.X = picture.Width - mark.Width - 12 : m.Y = picture.Height - mark.Height - 12
Shot "add_pic", "AddPic, watermark bottom right"
Set m = CreateObject("Quillbox.Frame.1")
m.LoadFrameFile fso.BuildPath(here, "frame.png")
Shot "frame", "Frame, frame.png"

Dim page
Set page = fso.CreateTextFile(fso.BuildPath(folder, "index.html"), True)
Check "write index.html"
page.Write "<!DOCTYPE html>" & vbCrLf & "<html><head><meta charset=""utf-8""><title>Contact sheet of " & _
  fso.GetFileName(photo) & "</title>" & vbCrLf & _
  "<style>body{font-family:sans-serif} figure{display:inline-block;margin:8px;text-align:center;vertical-align:top}" & _
  " img{width:240px;border:1px solid #888}</style></head><body>" & vbCrLf & _
  "<h1>Contact sheet of " & fso.GetFileName(photo) & "</h1>" & vbCrLf & cells & "</body></html>" & vbCrLf
page.Close
Check "write index.html"
WScript.Echo count & " pictures and " & fso.BuildPath(folder, "index.html")
