' Lays a watermark into the bottom right corner of every JPEG of a folder
' and saves each into another folder under the same name, as JPEG with the
' camera data kept. The watermark is an overlay picture and a mask whose
' grey levels say how much of it shows (white all, black nothing); they
' default to watermark.png and watermark-mask.png of the examples folder.
'
'   cscript //nologo watermark_folder.vbs C:\photos C:\marked [overlay.png mask.png]
'
' Exits 1 when a picture cannot be loaded, marked or saved, 2 on wrong
' arguments.
Option Explicit

Dim fso, here, inFolder, outFolder, overlay, mask, mark, watermark, file, ext, picture, result, base, count
Set fso = CreateObject("Scripting.FileSystemObject")
If WScript.Arguments.Count < 2 Then
  WScript.Echo "usage: cscript //nologo watermark_folder.vbs infolder outfolder [overlay.png mask.png]"
  WScript.Quit 2
End If
here = fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName))
inFolder = WScript.Arguments(0)
outFolder = WScript.Arguments(1)
overlay = fso.BuildPath(here, "watermark.png")
mask = fso.BuildPath(here, "watermark-mask.png")
If WScript.Arguments.Count > 2 Then overlay = WScript.Arguments(2)
If WScript.Arguments.Count > 3 Then mask = WScript.Arguments(3)
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
' The overlay's size, to place it 12 pixels in from the corner.
Set mark = CreateObject("Quillbox.VuPicture.1")
If Err.Number <> 0 Then Fail "create Quillbox.VuPicture.1"
mark.LoadFile overlay
If Err.Number <> 0 Then Fail "load the overlay " & overlay
Set watermark = CreateObject("Quillbox.AddPic.1")
watermark.LoadPicFile overlay
If Err.Number <> 0 Then Fail "load the overlay " & overlay
watermark.LoadMaskFile mask
If Err.Number <> 0 Then Fail "load the mask " & mask
count = 0
For Each file In fso.GetFolder(inFolder).Files
  ext = LCase(fso.GetExtensionName(file.Name))
  If ext = "jpg" Or ext = "jpeg" Then
    Set picture = CreateObject("Quillbox.VuPicture.1")
    picture.LoadFile file.Path
    If Err.Number <> 0 Then Fail "load " & file.Path
    watermark.X = picture.Width - mark.Width - 12
    watermark.Y = picture.Height - mark.Height - 12
    Set result = watermark.Apply(picture)
    If Err.Number <> 0 Then Fail "lay the watermark on " & file.Path
    base = fso.BuildPath(outFolder, fso.GetBaseName(file.Name))
    result.SaveAs base, ".jpg"
    If Err.Number <> 0 Then Fail "save " & base & ".jpg"
    WScript.Echo "Watermark laid at (" & watermark.X & ", " & watermark.Y & "): " & base & ".jpg"
    count = count + 1
  End If
Next
On Error GoTo 0
WScript.Echo count & " photos marked"
