@echo off
rem Removes the registration of Quillbox: the automation server, then its
rem type library. The files themselves stay where they are. On 64-bit
rem Windows the 32-bit regsvr32 undoes what it registered.
setlocal
set HERE=%~dp0
set RESULT=0
set REGSVR32=%SystemRoot%\System32\regsvr32.exe
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set REGSVR32=%SystemRoot%\SysWOW64\regsvr32.exe
"%REGSVR32%" /u /s "%HERE%Quillbox.dll"
if errorlevel 1 set RESULT=1
"%HERE%regtlb.exe" /u /s "%HERE%Quillbox.tlb"
if errorlevel 1 set RESULT=1
if %RESULT%==0 echo Quillbox is uninstalled.
if not %RESULT%==0 echo Quillbox could not be uninstalled completely.
exit /b %RESULT%
