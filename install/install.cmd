@echo off
rem Installs Quillbox from this folder: registers the type library, then the
rem automation server. Run it from anywhere; it finds its files beside itself.
rem Says which file is missing or could not be registered.
rem
rem On 64-bit Windows the server is registered by the 32-bit regsvr32,
rem whichever command prompt runs this script. The one registration serves
rem both kinds of program: 32-bit ones load Quillbox.dll, 64-bit ones get
rem its objects from QuillboxHost.exe, which COM starts for them.
setlocal
set HERE=%~dp0
for %%f in (Quillbox.dll Quillbox.tlb Rastrum.dll regtlb.exe QuillboxHost.exe) do (
  if not exist "%HERE%%%f" (
    echo %%f is missing: it must be in the folder of this script, %HERE%
    exit /b 2
  )
)
rem libheif.dll and libde265.dll (LGPL, replaceable) are optional: without
rem them every format loads but HEIC and AVIF.
for %%f in (libheif.dll libde265.dll) do (
  if not exist "%HERE%%%f" echo %%f is not here: HEIC and AVIF pictures will not load.
)
set REGSVR32=%SystemRoot%\System32\regsvr32.exe
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set REGSVR32=%SystemRoot%\SysWOW64\regsvr32.exe
"%HERE%regtlb.exe" /s "%HERE%Quillbox.tlb"
if errorlevel 1 (
  echo Quillbox.tlb could not be registered.
  exit /b 1
)
"%REGSVR32%" /s "%HERE%Quillbox.dll"
if errorlevel 1 (
  echo Quillbox.dll could not be registered.
  exit /b 1
)
echo Quillbox is installed.
if exist "%SystemRoot%\SysWOW64" echo 64-bit programs and scripts are served by QuillboxHost.exe.
exit /b 0
