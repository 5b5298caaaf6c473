' The first road, late-bound: a photo loaded, brightened and given more
' contrast; the error of a missing file and what ErrorDetail says of it;
' bytes in and out through ADODB.Stream. The photo's Windows path is the
' first argument.
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
' VBScript sees the failed load as 0x80020009; ErrorDetail says why in
' English, with the path.
Check Err.Number = &H80020009, "a failed load is 80020009 in VBScript, got " & Hex(Err.Number)
Check InStr(p.ErrorDetail, "C:\no\such\photo.jpg") > 0 And InStr(p.ErrorDetail, "does not exist") > 0, _
  "ErrorDetail names the cause: " & p.ErrorDetail

' Bytes in and out through ADODB.Stream, as a web page holds an upload:
' the stream's Read passed directly, and the array kept in a variable
' (passed by reference).
Dim s, bytes, q
Err.Clear
p.LoadFile photo
Check p.ErrorDetail = "", "a success clears ErrorDetail"
bytes = p.SaveBytes(".jpg")
Check Err.Number = 0 And VarType(bytes) = vbArray + vbByte, "SaveBytes gives an array of bytes (error " & Hex(Err.Number) & ")"
Set s = CreateObject("ADODB.Stream")
s.Type = 1
s.Open
' Wine's ADODB.Stream takes the array only by value: the parentheses pass
' a copy instead of the variable.
s.Write (bytes)
s.Position = 0
Check Err.Number = 0 And s.Size > 10000, "ADODB.Stream takes the bytes (error " & Hex(Err.Number) & ")"
Set q = CreateObject("Quillbox.VuPicture.1")
q.LoadBytes s.Read
Check Err.Number = 0 And q.Width = 500 And q.Height = 375, "LoadBytes of ADODB.Stream.Read (error " & Hex(Err.Number) & ")"
Check q.FileName = "" And q.CameraMake = "NIKON CORPORATION", "no file name, camera data from the bytes"
q.LoadBytes bytes
Check Err.Number = 0 And q.HasImage = 1, "LoadBytes of a variable"
q.Quality = 150
Check q.Quality = 100, "Quality is clamped to 100, got " & q.Quality
q.LoadBytes Array(1, 2, 3)
Check Err.Number = &H80020009 And q.HasImage = 0, "an array of Variants is refused, got " & Hex(Err.Number)
Check InStr(q.ErrorDetail, "type 0x200C") > 0, "ErrorDetail names the Variant's type: " & q.ErrorDetail
Err.Clear
q.SaveAs "C:\out", ".gif"
Check Err.Number = &H80004005 And InStr(q.ErrorDetail, "names no format") > 0, "a save as .gif: " & Hex(Err.Number) & " " & q.ErrorDetail

On Error GoTo 0
Finish
