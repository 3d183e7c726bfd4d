@echo off
rem ---------------------------------------------------------------------------
rem morning-check.cmd [REPORT] - write the sessions of this terminal server
rem into a report file, for a look at the start of the day: who is still
rem logged on from yesterday, which sessions hang disconnected.
rem
rem REPORT is the file to write (default: morning-check.txt in %TEMP%). Any
rem user can run it; listing sessions needs no Administrator rights.
rem Exit code: 0 sessions listed, 1 the server gave no list.
rem ---------------------------------------------------------------------------
setlocal

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set "REPORT=%~1"
if "%REPORT%"=="" set "REPORT=%TEMP%\morning-check.txt"

> "%REPORT%" echo Sessions on %COMPUTERNAME% at %DATE% %TIME%
>> "%REPORT%" echo.

rem /LISTALLSESSIONS prints every session: DOMAIN\user (or #number for a
rem session nobody can log on to, such as the listener) padded to 66
rem characters, then the state (Active, Connected, Disconnected, Listen...).
"%QM%" /LISTALLSESSIONS >> "%REPORT%"
rem Errorlevel 2: lines were listed. 1: sessions exist but none could be
rem shown. 0: the server reported no sessions at all (no Terminal Services,
rem or the query failed: run it again with /LOGFILE and read the log).
if %ERRORLEVEL% NEQ 2 (
  >> "%REPORT%" echo No sessions could be listed ^(Errorlevel %ERRORLEVEL%^).
  type "%REPORT%"
  exit /b 1
)

rem A summary under the list: the disconnected sessions once more. The
rem state stands at column 68 of each line.
set "SUMMARY=%REPORT%.disconnected"
type nul > "%SUMMARY%"
for /f "usebackq delims=" %%L in ("%REPORT%") do (
  set "LINE=%%L"
  call :disconnected
)
>> "%REPORT%" echo.
>> "%REPORT%" echo Disconnected:
type "%SUMMARY%" >> "%REPORT%"
del "%SUMMARY%"
type "%REPORT%"
exit /b 0

:disconnected
if "%LINE:~67%"=="Disconnected" >> "%SUMMARY%" echo %LINE%
goto :eof
