@echo off
rem ---------------------------------------------------------------------------
rem logoff-disconnected.cmd - log off the users whose sessions are all
rem disconnected (they closed the remote desktop window without logging off
rem and their programs still hold licences, files and memory).
rem
rem A user who also has a working session somewhere is left alone: quillmarsh
rem /LOGOFF user logs off every session of that user, the working one too.
rem
rem Run it as a member of Administrators (logging off other users' sessions
rem needs that right), by hand or from the Task Scheduler.
rem Exit code: 0 nothing to do, 2 everything logged off, 1 a logoff failed.
rem ---------------------------------------------------------------------------
setlocal

rem The list is read back by for /f, in the console's code page; quillmarsh
rem writes UTF-8 (its ANSI code page on Windows 10 1903 and later), so read
rem it as UTF-8 and put the old code page back at the end. chcp prints e.g.
rem "Active code page: 850" (or "Aktive Codepage: 850.").
set OLDCP=
for /f "tokens=2 delims=:." %%C in ('chcp') do set /a OLDCP=%%C >nul 2>&1
chcp 65001 >nul 2>&1

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

rem /LISTACTIVESESSIONS prints one line per session in the states Active,
rem Connected, ConnectQuery, Shadow and Disconnected: DOMAIN\user padded with
rem blanks to 66 characters, one blank, then the state. /NOTME leaves out the
rem session that runs this batch file.
set "LIST=%TEMP%\quillmarsh-sessions-%RANDOM%.txt"
"%QM%" /NOTME /LISTACTIVESESSIONS > "%LIST%"
rem Errorlevel 2: lines were printed; 1 or 0: nothing to look at.
if %ERRORLEVEL% NEQ 2 (
  del "%LIST%" 2>nul
  echo No sessions to look at.
  if defined OLDCP chcp %OLDCP% >nul 2>&1
  exit /b 0
)

set RESULT=0
rem The users already logged off, between semicolons.
set "DONE=;"
for /f "usebackq delims=" %%L in ("%LIST%") do (
  set "LINE=%%L"
  call :consider
)
del "%LIST%" 2>nul
if defined OLDCP chcp %OLDCP% >nul 2>&1
exit /b %RESULT%

rem One line of the list, in LINE. (The work is done in subroutines: there
rem each line is read afresh, so %LINE:~0,66% sees the current line.)
:consider
set "NAME=%LINE:~0,66%"
if not "%LINE:~67%"=="Disconnected" goto :eof
rem A session without a user reads "DOMAIN\" or "\": nobody to log off.
set "USER_PART=%NAME:*\=%"
if "%USER_PART: =%"=="" goto :eof
rem One /LOGOFF per user: it reaches all of the user's sessions at once.
call set "UNSEEN=%%DONE:;%NAME%;=%%"
if not "%UNSEEN%"=="%DONE%" goto :eof
set "DONE=%DONE%%NAME%;"
rem Leave the user alone when any of the user's sessions is not disconnected.
set BUSY=
for /f "usebackq delims=" %%M in ("%LIST%") do (
  set "OTHER=%%M"
  call :compare
)
set "SHOWN=%NAME%"
:trim
if "%SHOWN:~-1%"==" " (
  set "SHOWN=%SHOWN:~0,-1%"
  goto trim
)
if defined BUSY (
  echo Skipped: %SHOWN% still has a working session.
  goto :eof
)
rem quillmarsh trims the blanks that pad the name.
"%QM%" /LOGFILE /LOGOFF "%NAME%"
if %ERRORLEVEL% EQU 1 set RESULT=1
if %ERRORLEVEL% EQU 2 if %RESULT% EQU 0 set RESULT=2
goto :eof

:compare
if "%OTHER:~0,66%"=="%NAME%" if not "%OTHER:~67%"=="Disconnected" set BUSY=1
goto :eof
