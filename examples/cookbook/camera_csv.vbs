' Prints the camera data of every JPEG of a folder as CSV, one row a photo:
' file, make, model, date, exposure, aperture, focal length, flash, ISO,
' lens, and the GPS position as signed decimal degrees (south and west
' negative). A value the photo does not have is left empty.
'
'   cscript //nologo camera_csv.vbs C:\photos > camera.csv
'
' Exits 1 when the camera data of a photo cannot be read, 2 on wrong
' arguments.
Option Explicit

Function Field(value)
  Dim text
  text = ""
  If IsArray(value) Then value = value(0)  ' a camera may write ISO twice
  If Not IsNull(value) Then text = Trim(CStr(value))
  If InStr(text, ",") > 0 Or InStr(text, """") > 0 Then text = """" & Replace(text, """", """""") & """"
  Field = text
End Function

' "1/125" for 1/125 s and shorter, "2 s" for longer; empty when the photo has
' no ExposureTime.
Function Exposure(picture)
  Dim t
  t = picture.ExifValue("ExposureTime")
  Exposure = ""
  If IsEmpty(t) Or IsNull(t) Then Exit Function
  If t <= 0 Then Exit Function
  If t <= 0.5 Then
    Exposure = "1/" & CLng(1 / t)
  Else
    Exposure = t & " s"
  End If
End Function

' The F-number (f/4.5); empty when the photo has none.
Function Aperture(picture)
  Dim f
  f = picture.ExifValue("FNumber")
  Aperture = ""
  If IsEmpty(f) Or IsNull(f) Then
    If picture.Aperture <> 0 Then Aperture = "f/" & picture.Aperture
  ElseIf f > 0 Then
    Aperture = "f/" & f
  End If
End Function

' Degrees rounded to six places (about 10 cm), by hand: Wine's VBScript
' Round ignores its number of places. Empty when absent.
Function Degrees(value)
  Degrees = ""
  If Not IsEmpty(value) And Not IsNull(value) Then Degrees = CStr(Round(value * 1000000) / 1000000)
End Function

Dim fso, folder, file, ext, picture, row, focal
Set fso = CreateObject("Scripting.FileSystemObject")
If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo camera_csv.vbs folder"
  WScript.Quit 2
End If
folder = WScript.Arguments(0)
If Not fso.FolderExists(folder) Then
  WScript.Echo "No such folder: " & folder
  WScript.Quit 2
End If

WScript.Echo "file,make,model,date,exposure,aperture,focal length,flash,ISO,lens,latitude,longitude"
On Error Resume Next
For Each file In fso.GetFolder(folder).Files
  ext = LCase(fso.GetExtensionName(file.Name))
  If ext = "jpg" Or ext = "jpeg" Then
    Set picture = CreateObject("Quillbox.VuPicture.1")
    picture.ReadExif file.Path
    If Err.Number <> 0 Then
      WScript.Echo "Cannot read the camera data of " & file.Path & ": " & Err.Description & _
        " (error " & Hex(Err.Number) & ")"
      WScript.Quit 1
    End If
    focal = ""
    If picture.FocalLength <> 0 Then focal = picture.FocalLength & " mm"
    row = Field(file.Name) & "," & Field(picture.CameraMake) & "," & Field(picture.CameraModel) & "," & _
      Field(picture.DateTime) & "," & Field(Exposure(picture)) & "," & Field(Aperture(picture)) & "," & _
      Field(focal) & "," & Field(picture.FlashUsed) & "," & Field(picture.ExifValue("ISO")) & "," & _
      Field(picture.ExifValue("LensModel")) & "," & Field(Degrees(picture.ExifValue("GPSLatitude"))) & "," & _
      Field(Degrees(picture.ExifValue("GPSLongitude")))
    If Err.Number <> 0 Then
      WScript.Echo "Cannot read the camera data of " & file.Path & ": " & Err.Description
      WScript.Quit 1
    End If
    WScript.Echo row
  End If
Next
