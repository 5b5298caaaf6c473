' The checks every VBScript test of this folder shares. Wine's cscript (8.0)
' runs no .wsf job, so qb_script_job (tools/lib.sh) writes this file and
' the test into one script, which cscript runs. The test ends with Finish:
' the closing line "N passed, N failed" that the runner counts, and the
' failure count as the exit code. Wine's cscript shows no error that stops
' a script and exits with 0; such a test prints no closing line, and the
' runner counts that as a failure.
Option Explicit
Dim passed, failed
passed = 0
failed = 0

Sub Check(condition, what)
  If condition Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & what
  End If
End Sub

' Under On Error Resume Next: checks that the call before it succeeded, and
' clears its error.
Sub Succeeded(what)
  If Err.Number <> 0 Then what = what & " (" & Err.Description & ")"
  Check Err.Number = 0, what
  Err.Clear
End Sub

' Under On Error Resume Next: the object of a ProgID, or Nothing with the
' error of CreateObject left in Err.
Function TryCreate(progId)
  Dim obj
  Set obj = Nothing
  Err.Clear
  Set obj = CreateObject(progId)
  Set TryCreate = obj
End Function

Sub Finish
  WScript.Echo passed & " passed, " & failed & " failed"
  WScript.Quit failed
End Sub
