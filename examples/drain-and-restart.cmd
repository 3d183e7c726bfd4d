@echo off
rem ---------------------------------------------------------------------------
rem drain-and-restart.cmd - restart servers of a farm without cutting anybody
rem off in the middle of their work.
rem
rem   drain-and-restart.cmd TS01 TS02 TS03
rem   drain-and-restart.cmd TS01 TS02 TS03 /WHATIF
rem
rem For each server, one after the other:
rem   1. new logons stop until the server restarts (/LOGONS DRAINUNTILRESTART);
rem      the users on it may stay and reconnect, new ones go to other servers;
rem   2. the users are asked to save their work and log off;
rem   3. it waits until nobody works on it, at most WAIT_MINUTES minutes
rem      (/WAITEMPTY: no session with a user that is active or connected);
rem   4. the disconnected sessions are logged off;
rem   5. the server restarts by itself after GRACE_MINUTES minutes (/REBOOTIN),
rem      which also ends the drain: logons are allowed again after the restart.
rem      Windows records RESTART_REASON as the reason (/REASON, as shutdown /d).
rem A server that does not answer ("Server Not OK"), refuses this account
rem (Access is denied [5]) or cannot be drained is left alone. When a server
rem refuses the restart, its logons are enabled again, so that it does not
rem stay drained. A step that got no answer in time may still be carried out
rem by the server: it is never undone (a restart that may still come keeps
rem the drain), and the server is reported so that you check it yourself.
rem
rem With /WHATIF anywhere among the arguments, nothing is changed: every
rem quillmarsh step is a rehearsal that shows what it would do, each line
rem says what would happen, and nobody is waited for.
rem Run it as an account that is an administrator of the servers.
rem Exit code, the first that applies:
rem   2 usage (no server, or a server name that begins with "/"; nothing was
rem     asked)
rem   6 a step got no answer in time: its outcome is unknown
rem   4 a server was not reached
rem   5 a server refused this account
rem   1 a server failed a step
rem   0 every server restarts
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set WAIT_MINUTES=30
set GRACE_MINUTES=5
rem Planned, application, maintenance.
set RESTART_REASON=p:4:1

set "WHATIF="
rem Where the output of the steps goes: nowhere, or the console in a rehearsal.
set "QUIET=>nul"
rem /WHATIF may stand anywhere; every other argument is a server, and none
rem begins with "/" (a forgotten name, a switch of another program).
set "SERVERS="
:scan
if "%~1"=="" goto :scanned
if /i "%~1"=="/WHATIF" (
  set "WHATIF=/WHATIF"
  set "QUIET="
  shift
  goto :scan
)
set "ARG=%~1"
if "%ARG:~0,1%"=="/" (
  echo %~nx0: "%ARG%" is not a server name: a server name does not begin with "/".
  goto :usage
)
set "SERVERS=%SERVERS% %1"
shift
goto :scan
:scanned
if not defined SERVERS goto :usage

set RESULT=0
set "UNREACHED="
set "DENIED="
set "UNKNOWN="
for %%S in (%SERVERS%) do call :server %%S
if defined UNKNOWN exit /b 6
if defined UNREACHED exit /b 4
if defined DENIED exit /b 5
exit /b %RESULT%

:usage
echo Usage: %~nx0 [/WHATIF] server [server ...]
exit /b 2

:server
rem 0. /SERVER asks the server for its sessions at once; one that does not
rem    answer is reported as "Server Not OK: name" with the reason underneath.
set "NOT_OK="
set "REASON="
set "OUT=%TEMP%\quillmarsh-drain-%RANDOM%.txt"
"%QM%" /LOGFILE /SERVER %1 /LISTALLSESSIONS > "%OUT%"
for /f "usebackq delims=" %%L in ("%OUT%") do (
  set "LINE=%%L"
  call :not_ok
)
del "%OUT%" 2>nul
if not defined NOT_OK goto :answered
rem    A reason that ends in [5] is a refusal of this account.
if "%REASON:~-3%"=="[5]" goto :not_let_in
echo %1: does not answer: %REASON%; left alone.
set UNREACHED=yes
goto :eof
:not_let_in
echo %1: refused this account: %REASON%; left alone.
set DENIED=yes
goto :eof
:answered
rem 1. Errorlevel 2: drained (or would be); 1: refused, the reason is the
rem    last line of the output; 3: no answer in time, the server may still
rem    drain: it is left as it is.
rem    (No block around the reason: it may hold a parenthesis.)
call :ask %1 /LOGONS DRAINUNTILRESTART
if "%ASKED%"=="2" goto :drained
if "%ASKED%"=="3" goto :drain_unknown
echo %1: could not be drained: %LAST%; left alone.
set RESULT=1
goto :eof
:drain_unknown
echo %1: no answer in time: new logons may stop until the restart; left alone, check that server.
set UNKNOWN=yes
goto :eof
:drained
if defined WHATIF echo %LAST%
if defined WHATIF echo %1: new logons would stop until the restart.
if not defined WHATIF echo %1: new logons stopped until the restart.

rem 2. The message boxes close by themselves after ten minutes.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /MESSAGETIMEOUT 600 /MESSAGE *ALL "This server restarts for maintenance within %WAIT_MINUTES% minutes. New logons are stopped: please save your work and log off." %QUIET%

rem 3. Checks every ten seconds: Errorlevel 2 empty (or, in a rehearsal, would
rem    be waited for), 1 still in use when the time is up.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /WAITEMPTY %WAIT_MINUTES% %QUIET%
if errorlevel 2 (echo %1: nobody works on it any more.) else echo %1: still in use after %WAIT_MINUTES% minutes.

rem 4. Those who left without logging off.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /LOGOFFDISCONNECTED *ALL %QUIET%

rem 5. The restart prints its own word when the server accepted it, a
rem    "What if:" line in a rehearsal, and the reason when it was refused;
rem    given up on at the time limit, "Outcome unknown: ..." after it. A
rem    restart that may still come keeps the drain.
call :ask %1 /REASON %RESTART_REASON% /REBOOTIN %GRACE_MINUTES% "This server restarts in %GRACE_MINUTES% minutes for maintenance."
if "%LAST%"=="/REBOOTIN" goto :restarting
if "%LAST:~0,8%"=="What if:" goto :restarting
if "%LAST:~0,17%"=="Outcome unknown: " goto :restart_unknown
echo %1: the restart was refused: %LAST%
set RESULT=1
call :ask %1 /LOGONS ENABLE
if "%ASKED%"=="3" goto :enable_unknown
if not "%ASKED%"=="2" goto :enable_refused
if defined WHATIF echo %LAST%
if defined WHATIF echo %1: logons would be enabled again.
if not defined WHATIF echo %1: logons enabled again.
goto :eof
:enable_refused
echo %1: logons could not be enabled again: %LAST%
goto :eof
:enable_unknown
echo %1: no answer in time: logons may be enabled again; check that server.
set UNKNOWN=yes
goto :eof
:restart_unknown
echo %1: no answer in time: the restart may still come; logons left drained, check that server.
set UNKNOWN=yes
goto :eof
:restarting
if defined WHATIF echo %LAST%
if defined WHATIF echo %1: would restart in %GRACE_MINUTES% minutes.
if not defined WHATIF echo %1: restarts in %GRACE_MINUTES% minutes.
goto :eof

:ask
rem Runs quillmarsh on server %1 with the rest of the arguments; ASKED is its
rem Errorlevel and LAST the last line it printed.
set "OUT=%TEMP%\quillmarsh-drain-%RANDOM%.txt"
"%QM%" /LOGFILE %WHATIF% /SERVER %* > "%OUT%"
set ASKED=%ERRORLEVEL%
set "LAST="
for /f "usebackq delims=" %%L in ("%OUT%") do set "LAST=%%L"
del "%OUT%" 2>nul
goto :eof

rem One line of the output, in LINE: "Server Not OK: name" and its reason.
:not_ok
if defined NOT_OK if not defined REASON set "REASON=%LINE%"
if "%LINE:~0,15%"=="Server Not OK: " set NOT_OK=yes
goto :eof
