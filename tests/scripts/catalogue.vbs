' Every class of the catalogue as a VBScript client meets it: created by
' ProgID, late-bound calls, and the error information of a failed call.
Dim classes
classes = Array("VuPicture", "SharpModifier", "BlurModifier", "Zoom", "ImageRender", _
  "InputSource", "Contrast", "Bright", "Crop", "AddText", "Frame", "AddPic", "FolderInput", _
  "ImageCollection", "ImageFinder", "ImageInputService", "ImageInputSource", _
  "ImageInputSourceCollection", "ImageOutputService", "ImageOutputTarget", _
  "ImageOutputTargetCollection", "RotateModifier", "FileInfoArray", "ImageFile", "RedEye", _
  "ExportToCard", "MirrorModifier", "AdjustColorModifier", "WallPaper")

On Error Resume Next
Check UBound(classes) = 28, "the catalogue has 29 classes"

Dim name, obj, progId, code
For Each name In classes
  For Each progId In Array("Quillbox." & name & ".1", "Quillbox." & name)
    Set obj = TryCreate(progId)
    code = Err.Number
    If name = "FileInfoArray" Then
      ' Its interface map offers no IDispatch, so scripts cannot hold it.
      Check code = 430, progId & " is not an automation object (error " & code & ")"
    Else
      Check code = 0, "create " & progId & " (error " & code & " " & Err.Description & ")"
      Check Not (obj Is Nothing), progId & " gives an object"
    End If
  Next
Next

' Registered scripts of classes the module never serves are not run.
Set obj = TryCreate("Quillbox.PictureModifier.1")
Check Err.Number = 429, "Quillbox.PictureModifier.1 cannot be created (error " & Err.Number & ")"
Set obj = TryCreate("Quillbox.FileInfo.1")
Check Err.Number = 429, "Quillbox.FileInfo.1 cannot be created (error " & Err.Number & ")"

' The classes with a method of their own.
Dim service, wallpaper, card
Set service = CreateObject("Quillbox.ImageOutputService.1")
Err.Clear
service.Prepare
Check Err.Number = 0, "ImageOutputService.Prepare (error " & Err.Number & ")"
Set wallpaper = CreateObject("Quillbox.WallPaper.1")
Err.Clear
wallpaper.Execute 12345
Check Err.Number = 0, "WallPaper.Execute (error " & Err.Number & ")"
Set card = CreateObject("Quillbox.ExportToCard.1")
Err.Clear
card.Prepare
Check Err.Number = 0, "ExportToCard.Prepare, inherited from IImageOutputService (error " & Err.Number & ")"

' A failed call raises error information with the class's ProgID as source.
Dim picture
Set picture = CreateObject("Quillbox.VuPicture.1")
Err.Clear
picture.LoadFile "C:\no\such\photo.jpg"
Check Err.Number = &H80020009, "a failed load raises an exception (error " & Hex(Err.Number) & ")"
Check Err.Source = "Quillbox.VuPicture.1", "error source is the ProgID, got '" & Err.Source & "'"
Check Len(Err.Description) > 0, "error has a description"

' Unknown members are refused by the type library.
Err.Clear
picture.NoSuchMethod
Check Err.Number = 438, "unknown member gives error 438 (got " & Err.Number & ")"

' A modifier's Apply is reached through the inherited interface.
Dim zoom, result
Set zoom = CreateObject("Quillbox.Zoom.1")
zoom.Width = 20000
Err.Clear
Set result = zoom.Apply(picture)
Check Err.Number = &H80020009, "Zoom.Apply refuses 20000 pixels (error " & Hex(Err.Number) & ")"
Check Err.Source = "Quillbox.Zoom.1", "Apply error source, got '" & Err.Source & "'"

On Error GoTo 0
Finish
