' Prints the camera data of every JPEG of a folder as CSV, one row a photo:
' file, make, model, date, exposure, aperture, focal length, flash.
'
'   cscript //nologo camera_csv.vbs C:\photos > camera.csv
'
' Exits 1 when the camera data of a photo cannot be read, 2 on wrong
' arguments.
Option Explicit

Function Field(value)
  Dim text
  text = Trim(CStr(value))
  If InStr(text, ",") > 0 Or InStr(text, """") > 0 Then text = """" & Replace(text, """", """""") & """"
  Field = text
End Function

Dim fso, folder, file, ext, picture, row
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

WScript.Echo "file,make,model,date,exposure,aperture,focal length,flash"
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
    row = Field(file.Name) & "," & Field(picture.CameraMake) & "," & Field(picture.CameraModel) & "," & _
      Field(picture.DateTime) & "," & Field("1/" & picture.ExposureTime) & "," & _
      Field("f/" & picture.Aperture) & "," & Field(picture.FocalLength & " mm") & "," & Field(picture.FlashUsed)
    If Err.Number <> 0 Then
      WScript.Echo "Cannot read the camera data of " & file.Path & ": " & Err.Description
      WScript.Quit 1
    End If
    WScript.Echo row
  End If
Next
