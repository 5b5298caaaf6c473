' Brightens every JPEG of a folder and saves each into another folder under
' the same name, as JPEG with the camera data (EXIF) of the photo kept.
'
'   cscript //nologo brighten_folder.vbs C:\photos C:\brighter [level]
'
' The level runs from -50 to 50 (default 20). Exits 1 when a photo cannot
' be loaded, brightened or saved, 2 on wrong arguments.
Option Explicit

Dim fso, inFolder, outFolder, level, file, ext, picture, bright, result, base, count
Set fso = CreateObject("Scripting.FileSystemObject")
If WScript.Arguments.Count < 2 Then
  WScript.Echo "usage: cscript //nologo brighten_folder.vbs infolder outfolder [level]"
  WScript.Quit 2
End If
inFolder = WScript.Arguments(0)
outFolder = WScript.Arguments(1)
level = 20
If WScript.Arguments.Count > 2 Then
  If Not IsNumeric(WScript.Arguments(2)) Then
    WScript.Echo "The level must be a number, not " & WScript.Arguments(2)
    WScript.Quit 2
  End If
  level = CLng(WScript.Arguments(2))
End If
If Not fso.FolderExists(inFolder) Then
  WScript.Echo "No such folder: " & inFolder
  WScript.Quit 2
End If
Sub Fail(what)
  WScript.Echo "Cannot " & what & ": " & Err.Description & " (error " & Hex(Err.Number) & ")"
  WScript.Quit 1
End Sub

On Error Resume Next
If Not fso.FolderExists(outFolder) Then fso.CreateFolder outFolder
If Err.Number <> 0 Then Fail "make the folder " & outFolder
Set bright = CreateObject("Quillbox.Bright.1")
If Err.Number <> 0 Then Fail "create Quillbox.Bright.1"
bright.Brightness = level
If Err.Number <> 0 Then Fail "set the level " & level
count = 0
For Each file In fso.GetFolder(inFolder).Files
  ext = LCase(fso.GetExtensionName(file.Name))
  If ext = "jpg" Or ext = "jpeg" Then
    Set picture = CreateObject("Quillbox.VuPicture.1")
    If Err.Number <> 0 Then Fail "create Quillbox.VuPicture.1"
    picture.LoadFile file.Path
    If Err.Number <> 0 Then Fail "load " & file.Path
    Set result = bright.Apply(picture)
    If Err.Number <> 0 Then Fail "brighten " & file.Path
    base = fso.BuildPath(outFolder, fso.GetBaseName(file.Name))
    result.SaveAs base, ".jpg"
    If Err.Number <> 0 Then Fail "save " & base & ".jpg"
    WScript.Echo "Brightened " & file.Name & " by " & bright.Brightness & ": " & base & ".jpg"
    count = count + 1
  End If
Next
On Error GoTo 0
WScript.Echo count & " photos brightened"
