@echo off
rem Quorvane Live, portable copy: makes the program find this folder.
rem The program reads its folder from the value AppDir of the key below (the
rem setup program writes it when it installs). Run this once after unpacking,
rem and again after moving the folder. Your other settings are not touched.
rem "register.cmd /remove" takes the value away again.
setlocal
set "KEY=HKCU\SOFTWARE\Quorvane Software\Quorvane Live\1"
set "HERE=%~dp0"
if /i "%~1"=="/remove" goto remove
if not exist "%HERE%QuorvaneLive.exe" (
  echo QuorvaneLive.exe is not in %HERE%: run register.cmd from the unpacked folder.
  exit /b 1
)
rem The folder ends with a backslash; before the closing quote it is doubled
rem so that reg does not take it for an escaped quote.
reg add "%KEY%" /v AppDir /t REG_SZ /d "%HERE%\" /f >nul
if errorlevel 1 (
  echo Could not write AppDir under %KEY%.
  exit /b 1
)
echo Quorvane Live will now start from %HERE%
exit /b 0
:remove
reg delete "%KEY%" /v AppDir /f >nul 2>&1
echo AppDir removed.
exit /b 0
