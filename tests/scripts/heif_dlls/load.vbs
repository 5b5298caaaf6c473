' Loads each file named on the command line into a new picture and prints
' one line for each: name|error number|width|height|bit count|ErrorDetail.
' Argument 0 is the folder of the files; the others are their names.
Option Explicit
Dim folder, i, p, line
folder = WScript.Arguments(0)
For i = 1 To WScript.Arguments.Count - 1
  Set p = CreateObject("Quillbox.VuPicture.1")
  On Error Resume Next
  p.LoadFile folder & "\" & WScript.Arguments(i)
  line = WScript.Arguments(i) & "|" & Err.Number
  Err.Clear
  line = line & "|" & p.Width & "|" & p.Height & "|" & p.BitCount
  Err.Clear
  On Error GoTo 0
  WScript.Echo line & "|" & p.ErrorDetail
  Set p = Nothing
Next
WScript.Echo "done"
