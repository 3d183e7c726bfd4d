@echo off
rem ---------------------------------------------------------------------------
rem logoff-idle-disconnected.cmd - log off the sessions of terminal servers
rem that have been disconnected for a long time, except those of the
rem accounts listed below.
rem
rem Usage:  logoff-idle-disconnected.cmd [/WHATIF] [/MINUTES n] [server ...]
rem         logoff-idle-disconnected.cmd [/WHATIF] server minutes
rem         /WHATIF   a rehearsal: each logoff is shown as "What if: Logoff
rem                   DOMAIN\user #id on SERVER" and nobody is logged off
rem         /MINUTES  default 120; a session disconnected for at least this
rem                   long is logged off
rem         server    default: this server (.); the servers one after the other
rem         minutes   the older form: a number after the servers is the minutes
rem                   (a computer name is never all digits)
rem
rem The time counts from the moment the session was disconnected, by the
rem server's own clock. A session whose disconnect time the server does not
rem tell is left alone.
rem
rem Run it as a member of Administrators, by hand or from the Task Scheduler.
rem Exit code, the first that applies:
rem   3 a wrong argument (nobody was logged off)
rem   4 a server was not reached ("Server Not OK"; the others were done)
rem   1 a logoff failed
rem   2 every logoff (or, with /WHATIF, every rehearsed one) worked
rem   0 nothing to do
rem ---------------------------------------------------------------------------
setlocal

rem The accounts whose sessions are never logged off, each as user (in any
rem domain) or DOMAIN\user.
set EXCEPT=/EXCEPT svc_backup /EXCEPT CORP\administrator

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set "WHATIF="
if /i "%~1"=="/WHATIF" set "WHATIF=/WHATIF"
if defined WHATIF shift
set "MINUTES=120"
set "MINUTES_GIVEN="
if /i not "%~1"=="/MINUTES" goto :servers
set "MINUTES=%~2"
set "MINUTES_GIVEN=yes"
shift
shift

:servers
rem A bare number is the minutes, as in the older "logoff-idle-disconnected.cmd
rem TS01 60": never a server (no computer name is all digits). Minutes given
rem twice are refused rather than one of them guessed.
set "SERVERS="
:next_argument
if "%~1"=="" goto :run
set "DIGITS_ONLY=yes"
for /f "delims=0123456789" %%C in ("%~1") do set "DIGITS_ONLY="
if not defined DIGITS_ONLY goto :server_argument
if defined MINUTES_GIVEN (
  echo %~1: the minutes are given twice.
  exit /b 3
)
set "MINUTES=%~1"
set "MINUTES_GIVEN=yes"
shift
goto :next_argument
:server_argument
set "SERVERS=%SERVERS% %1"
shift
goto :next_argument

:run
if not defined SERVERS set "SERVERS=."
set "WRONG="
set "UNREACHED="
set "FAILED="
set "DONE="
for %%S in (%SERVERS%) do call :server %%S
if defined WRONG exit /b 3
if defined UNREACHED exit /b 4
if defined FAILED exit /b 1
if defined DONE exit /b 2
exit /b 0

rem One server, in %1; none after a wrong argument.
:server
if defined WRONG goto :eof
rem /IDLEMINUTES refuses anything but a number of minutes and then stops
rem before the logoff, so a typo never logs off everybody.
set "OUT=%TEMP%\quillmarsh-idle-%RANDOM%.txt"
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /IDLEMINUTES %MINUTES% %EXCEPT% /LOGOFFDISCONNECTED *ALL > "%OUT%"
set "HERE="
for /f "usebackq delims=" %%L in ("%OUT%") do (
  echo %%L
  set "LINE=%%L"
  call :result
)
del "%OUT%" 2>nul
if defined WRONG goto :eof
if defined HERE goto :eof
if "%~1"=="." (
  echo No session has been disconnected for %MINUTES% minutes.
) else (
  echo %1: no session has been disconnected for %MINUTES% minutes.
)
goto :eof

rem One line of the output, in LINE. HERE: something was said about a
rem session of this server, or the server was not reached.
:result
if "%LINE:~0,14%"=="Wrong or unkno" set WRONG=yes
if "%LINE:~0,15%"=="Server Not OK: " set UNREACHED=yes
if "%LINE:~0,15%"=="Server Not OK: " set HERE=yes
if "%LINE:~0,11%"=="Logoff OK: " set DONE=yes
if "%LINE:~0,11%"=="Logoff OK: " set HERE=yes
if "%LINE:~0,16%"=="What if: Logoff " set DONE=yes
if "%LINE:~0,16%"=="What if: Logoff " set HERE=yes
if not "%LINE:~0,15%"=="Logoff Not OK: " goto :eof
set HERE=yes
rem A session without a user cannot be logged off and does not count.
if "%LINE:~-1%"=="\" goto :eof
set FAILED=yes
goto :eof
