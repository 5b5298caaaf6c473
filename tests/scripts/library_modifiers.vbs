' Blur, zoom, rotate, text, overlay and frame, late-bound as a script
' calls them. The photo's Windows path is the first argument; a second one,
' "936", says that the ANSI code page is 936 (code_page_936.sh). Zoom's
' limit raises its text as the Chinese its code page 936 bytes encode under
' any code page: under 936 the script can spell it, elsewhere (no ChrW in
' Wine's VBScript) it checks that the ten characters are not the bytes as
' code page 1252 reads them.
' A narrow text made of its characters' codes in the ANSI code page (a
' double-byte character as one 16-bit code).
Function FromCodes(list)
  Dim c, text
  text = ""
  For Each c In list
    text = text & Chr(c)
  Next
  FromCodes = text
End Function

On Error Resume Next
Dim photo, p, r, limitText
photo = WScript.Arguments(0)
Set p = CreateObject("Quillbox.VuPicture.1")
p.LoadFile photo
Check Err.Number = 0 And p.Width = 500 And p.Height = 375, "the photo loads (error " & Hex(Err.Number) & ")"

' Blur: the level is clamped to 0..99; 0 makes no picture.
Dim blur
Set blur = CreateObject("Quillbox.BlurModifier.1")
blur.Level = 150
Check blur.Level = 99, "Level 150 is stored as 99, got " & blur.Level
blur.Level = -3
Check blur.Level = 0, "Level -3 is stored as 0, got " & blur.Level
Set r = blur.Apply(p)
Check Err.Number = 0 And r Is Nothing, "level 0 gives no picture (error " & Hex(Err.Number) & ")"
blur.Level = 4
Set r = blur.Apply(p)
Check Err.Number = 0 And r.Width = 500 And r.Height = 375, "a blurred picture of the same size"
Check r.FileName = photo, "it takes the file name"

' Zoom: each side at least 5, at most 10000.
Dim zoom
Set zoom = CreateObject("Quillbox.Zoom.1")
zoom.Width = 3
zoom.Height = 4
Set r = zoom.Apply(p)
Check Err.Number = 0 And r.Width = 5 And r.Height = 5, "3 x 4 is made 5 x 5"
Check zoom.Width = 5 And zoom.Height = 5, "and 5 x 5 is kept"
zoom.Width = 250
zoom.Height = 188
Set r = zoom.Apply(p)
Check r.Width = 250 And r.Height = 188, "250 x 188"
zoom.Width = 10001
Err.Clear
Set r = Nothing
Set r = zoom.Apply(p)
Check Err.Number = &H80020009, "10001 pixels raise an exception, got " & Hex(Err.Number)
Check Err.Source = "Quillbox.Zoom.1", "from Zoom, got '" & Err.Source & "'"
If WScript.Arguments.Count > 1 Then
  limitText = FromCodes(Array(&HB3DF, &HB4E7, &HCCAB, &HB4F3, &HA3AC, &HCEDE, &HB7A8, &HB4A6, &HC0ED, &HA3A1))
  Check Err.Description = limitText, "the limit's text (" & Len(Err.Description) & " characters)"
Else
  limitText = FromCodes(Array(&HB3, &HDF, &HB4, &HE7, &HCC, &HAB, &HB4, &HF3, &HA3, &HAC, _
                              &HCE, &HDE, &HB7, &HA8, &HB4, &HA6, &HC0, &HED, &HA3, &HA1))
  Check Len(Err.Description) = 10 And Err.Description <> limitText, _
        "the limit's text as ten Chinese characters (" & Len(Err.Description) & " characters)"
End If
Check r Is Nothing, "and no picture"
Err.Clear

' Rotate: negative angles are stored as 0; 30 degrees turn the photo onto a
' canvas that holds it whole.
Dim rotate
Set rotate = CreateObject("Quillbox.RotateModifier.1")
rotate.Angle = -90
Check rotate.Angle = 0, "Angle -90 is stored as 0, got " & rotate.Angle
rotate.Angle = 30
Set r = rotate.Apply(p)
Check Err.Number = 0 And r.Width = 621 And r.Height = 575, "500 x 375 turned by 30 degrees is 621 x 575, got " & r.Width & " x " & r.Height

' Text: the font set with Set and without, the text read back.
Dim text, font
Set text = CreateObject("Quillbox.AddText.1")
Check text.Font.Name = "MS Sans Serif", "the first font is MS Sans Serif, got " & text.Font.Name
Set font = CreateObject("StdFont")
font.Name = "Tahoma"
font.Size = 16
Set text.Font = font
Check Err.Number = 0 And text.Font.Name = "Tahoma", "Set Font (error " & Err.Number & ")"
font.Name = "MS Sans Serif"
text.Font = font
Check Err.Number = 0 And text.Font.Name = "MS Sans Serif", "Font without Set (error " & Err.Number & ")"
text.Text = "Quillbox"
Check text.Text = "Quillbox", "the text reads back"
text.X = 10
text.Y = 20
Check text.X = 10 And text.Y = 20, "the place reads back"
text.ForeColor = RGB(255, 255, 0)
Set r = text.Apply(p)
Check Err.Number = 0 And r.Width = 500 And r.HasImage = 1, "text drawn (error " & Hex(Err.Number) & ")"

' Overlay: a picture's Handle handed over is copied, never taken from the
' picture; both can then be released in any order.
Dim pic, overlay, mask
Set overlay = CreateObject("Quillbox.VuPicture.1")
overlay.LoadFile photo
Set mask = zoom
mask.Width = 100
mask.Height = 75
Set mask = mask.Apply(p)
Set pic = CreateObject("Quillbox.AddPic.1")
pic.PicHandle = overlay.Handle
Err.Clear
Set r = pic.Apply(p)
Check Err.Number = 7, "no mask: out of memory (E_OUTOFMEMORY) even with an overlay, got " & Hex(Err.Number)
Err.Clear
pic.MaskHandle = mask.Handle
Check pic.PicHandle <> overlay.Handle And pic.MaskHandle <> mask.Handle, "the handed blocks are copied"
pic.X = 400
pic.Y = 300
Set r = pic.Apply(p)
Check Err.Number = 0 And r.Width = 500 And r.HasImage = 1, "overlay laid (error " & Hex(Err.Number) & ")"
Set overlay = Nothing
Set pic = Nothing
Set mask = Nothing
Check Err.Number = 0 And r.Width = 500, "the overlay and its holder released"

' Frame: a failed load stops it; a frame handed over frames the photo.
Dim frame
Set frame = CreateObject("Quillbox.Frame.1")
frame.LoadFrameFile "C:\no\such\frame.png"
Check Err.Number = &H80004005, "a frame that does not load fails, got " & Hex(Err.Number)
Err.Clear
Set r = frame.Apply(p)
Check Err.Number = &H8000FFFF, "and so does the frame after it, got " & Hex(Err.Number)
Err.Clear
frame.FrameHandle = p.Handle
frame.FrameHandle2 = 0
Set r = frame.Apply(p)
Check Err.Number = 0 And r.Width = 500 And r.Height = 375, "framed (error " & Hex(Err.Number) & ")"
Set frame = Nothing
Check p.HasImage = 1 And p.Width = 500, "the photo keeps its block"

On Error GoTo 0
Finish
