@echo off
rem Installs Quillbox from this folder: registers the type library, then the
rem automation server. Run it from anywhere; it finds its files beside itself.
setlocal
set HERE=%~dp0
if not exist "%HERE%Quillbox.dll" goto missing
if not exist "%HERE%Quillbox.tlb" goto missing
"%HERE%regtlb.exe" /s "%HERE%Quillbox.tlb"
if errorlevel 1 goto failed
regsvr32 /s "%HERE%Quillbox.dll"
if errorlevel 1 goto failed
echo Quillbox is installed.
exit /b 0
:missing
echo Quillbox.dll and Quillbox.tlb must be in the folder of this script.
exit /b 2
:failed
echo Quillbox could not be installed.
exit /b 1
