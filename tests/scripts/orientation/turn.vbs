' Helper of orientation.sh: loads a JPEG, saves it with its camera data as
' it is, reads a modifier's result late-bound, turns the picture upright and
' saves it in every way that keeps the camera data, then writes it back over
' its own file. Prints what it read as key=value lines.
'   turn.vbs <photo.jpg> <output base>
Option Explicit
Dim photo, base, p, bright, r
photo = WScript.Arguments(0)
base = WScript.Arguments(1)

Set p = CreateObject("Quillbox.VuPicture.1")
p.LoadFile photo
WScript.Echo "loaded=" & p.Orientation & " " & p.Width & "x" & p.Height
p.SaveAs base & "-kept", ".jpg"

' A modifier's result carries the orientation and can be turned itself.
Set bright = CreateObject("Quillbox.Bright.1")
bright.Brightness = 0
Set r = bright.Apply(p)
WScript.Echo "result=" & r.Orientation
r.AutoOrient
WScript.Echo "result-turned=" & r.Orientation & " " & r.Width & "x" & r.Height

p.AutoOrient
WScript.Echo "turned=" & p.Orientation & " " & p.Width & "x" & p.Height
p.SaveAs base & "-upright", ".jpg"
p.SaveFile base & "-savefile.jpg", 1
p.SaveAs base, ".png"
p.Save
WScript.Echo "done"
