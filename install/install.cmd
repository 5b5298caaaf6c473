@echo off
rem Installs Quillbox from this folder: registers the type library, then the
rem automation server. Run it from anywhere; it finds its files beside itself.
rem Says which file is missing or could not be registered.
setlocal
set HERE=%~dp0
for %%f in (Quillbox.dll Quillbox.tlb Rastrum.dll regtlb.exe) do (
  if not exist "%HERE%%%f" (
    echo %%f is missing: it must be in the folder of this script, %HERE%
    exit /b 2
  )
)
"%HERE%regtlb.exe" /s "%HERE%Quillbox.tlb"
if errorlevel 1 (
  echo Quillbox.tlb could not be registered.
  exit /b 1
)
regsvr32 /s "%HERE%Quillbox.dll"
if errorlevel 1 (
  echo Quillbox.dll could not be registered.
  exit /b 1
)
echo Quillbox is installed.
exit /b 0
