' Makes a card of a photo with a note: a copy of the player that shows the
' photo and the note under it when it is run. The note is written into a
' text file beside the card.
'
'   cscript //nologo card.vbs C:\photos\holiday.jpg C:\cards\holiday.exe "A note"
'
' Exits 1 when the card cannot be packed, 2 on wrong arguments.
Option Explicit

Dim fso, photo, card, text, notePath, note, exporter
Set fso = CreateObject("Scripting.FileSystemObject")
If WScript.Arguments.Count < 3 Then
  WScript.Echo "usage: cscript //nologo card.vbs photo.jpg card.exe ""note"""
  WScript.Quit 2
End If
photo = WScript.Arguments(0)
card = WScript.Arguments(1)
text = WScript.Arguments(2)
If Not fso.FileExists(photo) Then
  WScript.Echo "No such photo: " & photo
  WScript.Quit 2
End If

' The note goes into a file named after the card; PackCard makes the
' card's missing folders, the note needs its folder first.
Dim cardFolder
cardFolder = fso.GetParentFolderName(card)
notePath = fso.BuildPath(cardFolder, fso.GetBaseName(card) & "-note.txt")
On Error Resume Next
If Not fso.FolderExists(cardFolder) Then fso.CreateFolder cardFolder
Set note = fso.CreateTextFile(notePath, True)
note.WriteLine text
note.Close
If Err.Number <> 0 Then
  WScript.Echo "Cannot write the note " & notePath & ": " & Err.Description
  WScript.Quit 1
End If
Set exporter = CreateObject("Quillbox.ExportToCard.1")
exporter.PackCard photo, notePath, card
If Err.Number <> 0 Then
  WScript.Echo "Cannot pack the card " & card & ": error " & Hex(Err.Number) & " " & Err.Description
  WScript.Quit 1
End If
On Error GoTo 0
WScript.Echo "Packed " & card & " (" & fso.GetFile(card).Size & " bytes) with " & fso.GetFileName(photo) & _
  " and " & fso.GetFileName(notePath) & ": run it to see the photo"
