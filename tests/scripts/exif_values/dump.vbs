' Helper of exif_values.sh: reads the EXIF block of each file listed in a
' text file (one Windows path a line) and writes, into a UTF-16 file, one
' line a tag: the file's line number, the tag's name as ExifTags gives it,
' and ExifValue of that name (numbers as text, several values joined by a
' space, Null as "undef", binary data (Bytes in an array) as "<binary N>").
'   dump.vbs <list.txt> <values.txt>
Option Explicit
Dim fso, list, out, n, path, p, names, i, name, v
Set fso = CreateObject("Scripting.FileSystemObject")
Set list = fso.OpenTextFile(WScript.Arguments(0), 1)
Set out = fso.CreateTextFile(WScript.Arguments(1), True, True)

Function Show(v)
  Dim k, s
  If IsEmpty(v) Then
    Show = "<empty>"
  ElseIf IsNull(v) Then
    Show = "undef"
  ElseIf IsArray(v) Then
    If UBound(v) >= 0 Then
      If VarType(v(0)) = vbByte Then
        Show = "<binary " & (UBound(v) + 1) & ">"
        Exit Function
      End If
    End If
    s = ""
    For k = 0 To UBound(v)
      If k > 0 Then s = s & " "
      s = s & Show(v(k))
    Next
    Show = s
  Else
    Show = Replace(Replace(CStr(v), vbCr, " "), vbLf, " ")
  End If
End Function

n = 0
Do Until list.AtEndOfStream
  path = list.ReadLine
  n = n + 1
  Set p = CreateObject("Quillbox.VuPicture.1")
  p.ReadExif path
  names = p.ExifTags
  For i = 0 To UBound(names)
    name = names(i)
    v = Show(p.ExifValue(name))
    out.WriteLine n & vbTab & name & vbTab & v
  Next
Loop
out.Close
WScript.Echo "read " & n
