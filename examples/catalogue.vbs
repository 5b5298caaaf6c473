' Creates every Quillbox class by its ProgID and prints what it is.
'
'   cscript //nologo catalogue.vbs
Option Explicit

Dim classes, name, obj, made
classes = Array("VuPicture", "SharpModifier", "BlurModifier", "Zoom", "ImageRender", _
  "InputSource", "Contrast", "Bright", "Crop", "AddText", "Frame", "AddPic", "FolderInput", _
  "ImageCollection", "ImageFinder", "ImageInputService", "ImageInputSource", _
  "ImageInputSourceCollection", "ImageOutputService", "ImageOutputTarget", _
  "ImageOutputTargetCollection", "RotateModifier", "FileInfoArray", "ImageFile", "RedEye", _
  "ExportToCard", "MirrorModifier", "AdjustColorModifier", "WallPaper")

made = 0
On Error Resume Next
For Each name In classes
  Err.Clear
  Set obj = Nothing
  Set obj = CreateObject("Quillbox." & name & ".1")
  If Err.Number = 0 Then
    made = made + 1
    WScript.Echo "Quillbox." & name & ".1 -> " & TypeName(obj)
  Else
    WScript.Echo "Quillbox." & name & ".1 -> not scriptable (" & Err.Description & ")"
  End If
Next
On Error GoTo 0
WScript.Echo made & " of " & (UBound(classes) + 1) & " classes created for scripting."
