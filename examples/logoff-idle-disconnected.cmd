@echo off
rem ---------------------------------------------------------------------------
rem logoff-idle-disconnected.cmd - log off the sessions of a terminal server
rem that have been disconnected for a long time, except those of the
rem accounts listed below.
rem
rem Usage:  logoff-idle-disconnected.cmd [server [minutes]]
rem         server   default: this server (.)
rem         minutes  default: 120; a session disconnected for at least this
rem                  long is logged off
rem
rem The time counts from the moment the session was disconnected, by the
rem server's own clock. A session whose disconnect time the server does not
rem tell is left alone.
rem
rem Run it as a member of Administrators, by hand or from the Task Scheduler.
rem Exit code: 0 nothing to do, 2 everything logged off, 1 a logoff failed,
rem 3 a wrong argument (nothing was logged off).
rem ---------------------------------------------------------------------------
setlocal

rem The accounts whose sessions are never logged off, each as user (in any
rem domain) or DOMAIN\user.
set EXCEPT=/EXCEPT svc_backup /EXCEPT CORP\administrator

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set "SERVER=%~1"
if "%SERVER%"=="" set "SERVER=."
set "MINUTES=%~2"
if "%MINUTES%"=="" set "MINUTES=120"

rem /IDLEMINUTES refuses anything but a number of minutes and then stops
rem before the logoff, so a typo never logs off everybody.
set "OUT=%TEMP%\quillmarsh-idle-%RANDOM%.txt"
"%QM%" /LOGFILE /SERVER %SERVER% /IDLEMINUTES %MINUTES% %EXCEPT% /LOGOFFDISCONNECTED *ALL > "%OUT%"
set RESULT=0
for /f "usebackq delims=" %%L in ("%OUT%") do (
  echo %%L
  set "LINE=%%L"
  call :result
)
del "%OUT%" 2>nul
if %RESULT% EQU 0 echo No session has been disconnected for %MINUTES% minutes.
exit /b %RESULT%

rem One line of the output, in LINE.
:result
if "%LINE:~0,14%"=="Wrong or unkno" set RESULT=3
if "%LINE:~0,11%"=="Logoff OK: " if %RESULT% EQU 0 set RESULT=2
if not "%LINE:~0,15%"=="Logoff Not OK: " goto :eof
rem A session without a user cannot be logged off and does not count.
if "%LINE:~-1%"=="\" goto :eof
if %RESULT% NEQ 3 set RESULT=1
goto :eof
