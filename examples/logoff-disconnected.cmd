@echo off
rem ---------------------------------------------------------------------------
rem logoff-disconnected.cmd - log off the disconnected sessions (their users
rem closed the remote desktop window without logging off and their programs
rem still hold licences, files and memory).
rem
rem Only disconnected sessions are logged off: a user who also works in
rem another session keeps that one.
rem
rem   logoff-disconnected.cmd [/WHATIF]
rem
rem /WHATIF, anywhere among the arguments, rehearses it: each logoff is shown
rem as "What if: Logoff DOMAIN\user #id on SERVER" and nobody is logged off.
rem
rem Run it as a member of Administrators (logging off other users' sessions
rem needs that right), by hand or from the Task Scheduler.
rem Exit code: 0 nothing to do, 2 everything logged off (or rehearsed), 1 a
rem logoff failed.
rem ---------------------------------------------------------------------------
setlocal

rem The output is read back by for /f, in the console's code page; quillmarsh
rem writes UTF-8 (its ANSI code page on Windows 10 1903 and later), so read
rem it as UTF-8 and put the old code page back at the end. chcp prints e.g.
rem "Active code page: 850" (or "Aktive Codepage: 850.").
set OLDCP=
for /f "tokens=2 delims=:." %%C in ('chcp') do set /a OLDCP=%%C >nul 2>&1
chcp 65001 >nul 2>&1

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set "WHATIF="
for %%A in (%*) do if /i "%%~A"=="/WHATIF" set "WHATIF=/WHATIF"

rem /LOGOFFDISCONNECTED *ALL logs off every session of a user in the state
rem Disconnected and prints one line per session: "Logoff OK: DOMAIN\user",
rem or "Logoff Not OK: DOMAIN\user" and the reason underneath. It never logs
rem off the session that runs this batch file, passes over sessions without a
rem user (such as the services session) and leaves alone a user who has come
rem back in the meantime. Its Errorlevel is that of the last session; the
rem lines tell about every one.
set "OUT=%TEMP%\quillmarsh-logoff-%RANDOM%.txt"
"%QM%" /LOGFILE %WHATIF% /LOGOFFDISCONNECTED *ALL > "%OUT%"
set RESULT=0
for /f "usebackq delims=" %%L in ("%OUT%") do (
  echo %%L
  set "LINE=%%L"
  call :result
)
del "%OUT%" 2>nul
if %RESULT% EQU 0 echo No disconnected sessions of users.
if defined OLDCP chcp %OLDCP% >nul 2>&1
exit /b %RESULT%

rem One line of the output, in LINE.
:result
if "%LINE:~0,11%"=="Logoff OK: " if %RESULT% EQU 0 set RESULT=2
if "%LINE:~0,16%"=="What if: Logoff " if %RESULT% EQU 0 set RESULT=2
if "%LINE:~0,15%"=="Logoff Not OK: " set RESULT=1
goto :eof
