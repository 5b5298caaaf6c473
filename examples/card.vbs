' A picture card: brighten a photo, save it, pack it with a short note into
' a card (a copy of the player that shows the photo when it is run), then
' unpack a copy of that card into a fresh folder.
'
'   cscript //nologo card.vbs C:\photos\holiday.jpg [C:\output\folder]
Option Explicit

If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo card.vbs photo.jpg [output folder]"
  WScript.Quit 2
End If

Dim fso, photo, folder, picture, bright, brighter, base, notePath, note, card, exporter
Dim copyFolder, copy, unpacker, name
Set fso = CreateObject("Scripting.FileSystemObject")
photo = WScript.Arguments(0)
If WScript.Arguments.Count > 1 Then
  folder = WScript.Arguments(1)
Else
  folder = fso.GetSpecialFolder(2).Path
End If
If Right(folder, 1) <> "\" Then folder = folder & "\"

Set picture = CreateObject("Quillbox.VuPicture.1")
On Error Resume Next
picture.LoadFile photo
If Err.Number <> 0 Then
  WScript.Echo "Cannot load " & photo & ": " & Err.Description
  WScript.Quit 1
End If
On Error GoTo 0

Set bright = CreateObject("Quillbox.Bright.1")
bright.Brightness = 20
Set brighter = bright.Apply(picture)
base = folder & "card-photo"
brighter.SaveAs base, ".jpg"
WScript.Echo "Brightened by " & bright.Brightness & " and saved as " & base & ".jpg"

notePath = folder & "card-note.txt"
Set note = fso.CreateTextFile(notePath, True)
note.WriteLine "Brightened by " & bright.Brightness & " from " & fso.GetFileName(photo) & "."
note.Close

' PackCard replaces a card of the same name and makes missing folders.
card = folder & "cards\photo-card.exe"
Set exporter = CreateObject("Quillbox.ExportToCard.1")
On Error Resume Next
exporter.PackCard base & ".jpg", notePath, card
If Err.Number <> 0 Then
  WScript.Echo "Cannot pack the card: error " & Hex(Err.Number)
  WScript.Quit 1
End If
On Error GoTo 0
WScript.Echo "Packed " & card & " (" & fso.GetFile(card).Size & " bytes): run it to see the photo"

' Unpacking writes the files beside the card and never replaces a file, so
' the copy goes into a folder of its own.
copyFolder = folder & "unpacked-" & Year(Now) & Right("0" & Month(Now), 2) & Right("0" & Day(Now), 2) & _
  "-" & Right("0" & Hour(Now), 2) & Right("0" & Minute(Now), 2) & Right("0" & Second(Now), 2)
If fso.FolderExists(copyFolder) Then fso.DeleteFolder copyFolder, True
fso.CreateFolder copyFolder
copy = copyFolder & "\photo-card.exe"
fso.CopyFile card, copy
Set unpacker = CreateObject("Quillbox.ExportToCard.1")
On Error Resume Next
unpacker.UnpackCard copy
If Err.Number <> 0 Then
  WScript.Echo "Cannot unpack the card: error " & Hex(Err.Number)
  WScript.Quit 1
End If
On Error GoTo 0
For Each name In Array("card-photo.jpg", "card-note.txt")
  WScript.Echo "Unpacked " & copyFolder & "\" & name & " (" & fso.GetFile(copyFolder & "\" & name).Size & " bytes)"
Next
