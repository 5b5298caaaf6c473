' Makes an uploaded photo ready for the web without a temporary file, as a
' page that receives it does: the upload's bytes in, turned upright,
' resized to 1600 pixels on its long side, watermarked in the bottom right
' corner, and the JPEG's bytes out, camera data kept, at quality 85.
'
'   cscript //nologo web_upload.vbs upload.jpg result.jpg [overlay.png mask.png]
'
' In an ASP page the bytes come from Request.BinaryRead(Request.TotalBytes)
' and go to Response.BinaryWrite; here they are read from the upload file
' and written to the result, which may also be an http:// address that
' takes a PUT (a storage service). ADODB.Stream reads and writes the files;
' where it cannot (Wine's does not read or save files), the upload is read
' with MSXML2.XMLHTTP from its file:// address.
'
' Exits 1 when the upload cannot be read, edited or written, 2 on wrong
' arguments.
Option Explicit

Dim fso, here, upload, target, overlay, mask, bytes, picture, longSide, zoom, resized, mark, watermark, result
Set fso = CreateObject("Scripting.FileSystemObject")
If WScript.Arguments.Count < 2 Then
  WScript.Echo "usage: cscript //nologo web_upload.vbs upload.jpg result.jpg [overlay.png mask.png]"
  WScript.Quit 2
End If
here = fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName))
upload = WScript.Arguments(0)
target = WScript.Arguments(1)
overlay = fso.BuildPath(here, "watermark.png")
mask = fso.BuildPath(here, "watermark-mask.png")
If WScript.Arguments.Count > 2 Then overlay = WScript.Arguments(2)
If WScript.Arguments.Count > 3 Then mask = WScript.Arguments(3)
If Not fso.FileExists(upload) Then
  WScript.Echo "No such file: " & upload
  WScript.Quit 2
End If

' Says what failed, with the picture's own English reason when it has one.
Sub Fail(what, picture)
  Dim detail
  detail = ""
  If IsObject(picture) Then detail = picture.ErrorDetail
  If detail = "" Then detail = Err.Description
  If detail = "" Then detail = "no reason given"
  WScript.Echo "Cannot " & what & ": " & detail & " (error " & Hex(Err.Number) & ")"
  WScript.Quit 1
End Sub

' The bytes of a file, as an array of bytes.
Function ReadBytes(path)
  Dim stream, http
  On Error Resume Next
  Set stream = CreateObject("ADODB.Stream")
  stream.Type = 1
  stream.Open
  stream.LoadFromFile path
  If Err.Number = 0 Then
    ReadBytes = stream.Read
    Exit Function
  End If
  Err.Clear
  ' Wine's VBScript creates the XMLHTTP object only through WScript.
  Set http = WScript.CreateObject("MSXML2.XMLHTTP")
  http.open "GET", "file://" & Replace(fso.GetAbsolutePathName(path), "\", "/"), False
  http.send
  If Err.Number = 0 Then ReadBytes = http.responseBody
End Function

' Writes an array of bytes to a file, or PUTs it to an http address.
Sub WriteBytes(path, bytes)
  Dim stream, http
  If LCase(Left(path, 7)) = "http://" Or LCase(Left(path, 8)) = "https://" Then
    Set http = WScript.CreateObject("MSXML2.XMLHTTP")
    http.open "PUT", path, False
    http.send (bytes)
    If Err.Number = 0 And (http.status < 200 Or http.status > 299) Then
      Err.Raise vbObjectError + 1, "web_upload", "the server answered " & http.status
    End If
  Else
    Set stream = CreateObject("ADODB.Stream")
    stream.Type = 1
    stream.Open
    ' The parentheses pass the array itself, not the variable holding it.
    stream.Write (bytes)
    stream.SaveToFile path, 2
  End If
End Sub

On Error Resume Next
bytes = ReadBytes(upload)
If IsEmpty(bytes) Then Fail "read the upload " & upload, Empty
Set picture = CreateObject("Quillbox.VuPicture.1")
If Err.Number <> 0 Then Fail "create Quillbox.VuPicture.1", Empty
picture.LoadBytes bytes
If Err.Number <> 0 Then Fail "load the upload " & upload, picture
' Upright first, so that the size and the watermark's corner are the ones
' viewers show.
WScript.Echo "Orientation " & picture.Orientation & ", " & picture.Width & " x " & picture.Height
picture.AutoOrient
If Err.Number <> 0 Then Fail "turn the upload upright", picture

Set zoom = CreateObject("Quillbox.Zoom.1")
longSide = picture.Width
If picture.Height > longSide Then longSide = picture.Height
zoom.Width = Round(picture.Width * 1600 / longSide)
zoom.Height = Round(picture.Height * 1600 / longSide)
Set resized = zoom.Apply(picture)
If Err.Number <> 0 Then Fail "resize the upload", picture

' The overlay's size, to place it 12 pixels in from the corner.
Set mark = CreateObject("Quillbox.VuPicture.1")
mark.LoadFile overlay
If Err.Number <> 0 Then Fail "load the overlay " & overlay, mark
Set watermark = CreateObject("Quillbox.AddPic.1")
watermark.LoadPicFile overlay
watermark.LoadMaskFile mask
If Err.Number <> 0 Then Fail "load the watermark " & overlay & " and " & mask, Empty
watermark.X = resized.Width - mark.Width - 12
watermark.Y = resized.Height - mark.Height - 12
Set result = watermark.Apply(resized)
If Err.Number <> 0 Then Fail "lay the watermark", resized

result.Quality = 85
bytes = result.SaveBytes(".jpg")
If Err.Number <> 0 Then Fail "encode the result", result
WriteBytes target, bytes
If Err.Number <> 0 Then Fail "write " & target & " (where ADODB.Stream cannot save files, give an http:// address)", Empty
On Error GoTo 0
WScript.Echo "Web-ready: " & result.Width & " x " & result.Height & ", watermark at (" & watermark.X & ", " & _
  watermark.Y & "), " & target
