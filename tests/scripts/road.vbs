' The first road, late-bound: a photo loaded, brightened and given more
' contrast; the error of a missing file. The photo's Windows path is the
' first argument.
Option Explicit
Dim passed, failed
passed = 0
failed = 0

Sub Check(condition, what)
  If condition Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & what
  End If
End Sub

On Error Resume Next
Dim photo, p, b, c, r, r2
photo = WScript.Arguments(0)
Check Err.Number = 0 And Len(photo) > 0, "the photo's path is given"

Set p = CreateObject("Quillbox.VuPicture.1")
Check p.HasImage = 0, "a new picture has no image"
p.LoadFile photo
Check Err.Number = 0, "LoadFile " & photo & " (error " & Hex(Err.Number) & " " & Err.Description & ")"
Check p.HasImage = 1, "the picture holds the image"
Check p.Width = 500 And p.Height = 375, "500 x 375, got " & p.Width & " x " & p.Height
Check p.BitCount = 24, "24 bits, got " & p.BitCount
Check p.FileName = photo, "the file name is the path as passed"

Set b = CreateObject("Quillbox.Bright.1")
b.Brightness = 20
Check b.Brightness = 20, "Brightness reads back 20"
b.Brightness = 99
Check b.Brightness = 50, "Brightness is clamped to 50"
b.Brightness = 20
Err.Clear
Set r = b.Apply(p)
Check Err.Number = 0, "Bright.Apply (error " & Hex(Err.Number) & ")"
Check r.Width = 500 And r.Height = 375 And r.BitCount = 24, "the result has the source's size"
Check r.FileName = photo, "the result takes the file name"
Check r.Handle <> p.Handle, "the result holds its own block"

Set c = CreateObject("Quillbox.Contrast.1")
c.Contrast = 10
Set r2 = c.Apply(r)
Check Err.Number = 0, "Contrast.Apply (error " & Hex(Err.Number) & ")"
Check r2.Width = 500, "the contrast result has the width"

' Through the shared modifier interface, any modifier is applied alike.
Dim m
For Each m In Array(b, c)
  Err.Clear
  Set r = m.Apply(p)
  Check Err.Number = 0 And r.HasImage = 1, "Apply through the shared interface"
Next

' An empty picture gives no result.
Dim blank
Set blank = CreateObject("Quillbox.VuPicture.1")
Err.Clear
Set r = b.Apply(blank)
Check Err.Number = &H8000FFFF, "an empty source gives E_UNEXPECTED, got " & Hex(Err.Number)

' A missing file raises the picture's error.
Err.Clear
p.LoadFile "C:\no\such\photo.jpg"
Check Err.Number <> 0, "a missing file fails"
Check Len(Err.Description) > 0, "with a description"
Check Err.Source = "Quillbox.VuPicture.1", "from the picture, got '" & Err.Source & "'"
Check p.HasImage = 0, "and the picture is empty"

On Error GoTo 0
WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
