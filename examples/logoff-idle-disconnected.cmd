@echo off
rem ---------------------------------------------------------------------------
rem logoff-idle-disconnected.cmd - log off the sessions of terminal servers
rem that have been disconnected for a long time, except those of the
rem accounts listed below.
rem
rem Usage:  logoff-idle-disconnected.cmd [/WHATIF] [/MINUTES n] [server ...]
rem         logoff-idle-disconnected.cmd [/WHATIF] server minutes
rem         /WHATIF   a rehearsal, anywhere among the arguments: each logoff
rem                   is shown as "What if: Logoff DOMAIN\user #id on SERVER"
rem                   and nobody is logged off
rem         /MINUTES  default 120; a session disconnected for at least this
rem                   long is logged off
rem         server    default: this server (.); the servers one after the other
rem                   (a name that begins with "/" is a wrong argument)
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
rem   5 a server refused this account ("Server Not OK", Access is denied [5];
rem     the others were done)
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

rem /WHATIF may stand anywhere; the other arguments keep their order.
set "WHATIF="
set "ARGS="
:scan
if "%~1"=="" goto :scanned
if /i "%~1"=="/WHATIF" (
  set "WHATIF=/WHATIF"
  shift
  goto :scan
)
set "ARGS=%ARGS% %1"
shift
goto :scan
:scanned
call :main %ARGS%
exit /b %ERRORLEVEL%

:main
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
rem A name that begins with "/" is a forgotten name or a misplaced switch.
set "ARG=%~1"
if "%ARG:~0,1%"=="/" (
  echo %~nx0: "%ARG%" is not a server name: a server name does not begin with "/".
  exit /b 3
)
set "SERVERS=%SERVERS% %1"
shift
goto :next_argument

:run
if not defined SERVERS set "SERVERS=."
set "WRONG="
set "UNREACHED="
set "DENIED="
set "FAILED="
set "DONE="
for %%S in (%SERVERS%) do call :server %%S
if defined WRONG exit /b 3
if defined UNREACHED exit /b 4
if defined DENIED exit /b 5
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
set "NOT_OK="
set "REASON="
for /f "usebackq delims=" %%L in ("%OUT%") do (
  echo %%L
  set "LINE=%%L"
  call :result
)
del "%OUT%" 2>nul
if defined WRONG goto :eof
if defined NOT_OK goto :not_reached
if defined HERE goto :eof
if "%~1"=="." (
  echo No session has been disconnected for %MINUTES% minutes.
) else (
  echo %1: no session has been disconnected for %MINUTES% minutes.
)
goto :eof

rem The server in %1 failed its check, with REASON: a reason that ends in
rem [5] is a refusal of this account, any other a server that does not answer.
:not_reached
if "%REASON:~-3%"=="[5]" goto :not_let_in
echo %1: does not answer; left out.
set UNREACHED=yes
goto :eof
:not_let_in
echo %1: refused this account; left out.
set DENIED=yes
goto :eof

rem One line of the output, in LINE. HERE: something was said about a
rem session of this server. NOT_OK: the server was not reached, REASON the
rem line after "Server Not OK: name".
:result
if defined NOT_OK if not defined REASON set "REASON=%LINE%"
if "%LINE:~0,14%"=="Wrong or unkno" set WRONG=yes
if "%LINE:~0,15%"=="Server Not OK: " set NOT_OK=yes
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
