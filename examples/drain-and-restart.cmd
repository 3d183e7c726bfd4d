@echo off
rem ---------------------------------------------------------------------------
rem drain-and-restart.cmd - restart servers of a farm without cutting anybody
rem off in the middle of their work.
rem
rem   drain-and-restart.cmd TS01 TS02 TS03
rem   drain-and-restart.cmd /WHATIF TS01 TS02 TS03
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
rem A server that does not answer ("Server Not OK") or cannot be drained is
rem left alone. When a server refuses the restart, its logons are enabled
rem again, so that it does not stay drained.
rem
rem With /WHATIF first, nothing is changed: every quillmarsh step is a
rem rehearsal that shows what it would do, and nobody is waited for.
rem Run it as an account that is an administrator of the servers.
rem Exit code: 0 every server restarts, 1 a server failed, 2 usage, 4 a server
rem was not reached (4 wins over 1).
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
if /i "%~1"=="/WHATIF" (
  set "WHATIF=/WHATIF"
  set "QUIET="
  shift
)
if "%~1"=="" (
  echo Usage: %~nx0 [/WHATIF] server [server ...]
  exit /b 2
)

set RESULT=0
set "UNREACHED="
:next
if "%~1"=="" goto :done
call :server %1
shift
goto :next
:done
if defined UNREACHED exit /b 4
exit /b %RESULT%

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
echo %1: does not answer: %REASON%; left alone.
set UNREACHED=yes
goto :eof
:answered
rem 1. Errorlevel 2: drained (or would be); 1: refused, the reason is the
rem    last line of the output.
rem    (No block around the reason: it may hold a parenthesis.)
call :ask %1 /LOGONS DRAINUNTILRESTART
if "%ASKED%"=="2" goto :drained
echo %1: could not be drained: %LAST%; left alone.
set RESULT=1
goto :eof
:drained
if defined WHATIF echo %LAST%
echo %1: new logons stopped until the restart.

rem 2. The message boxes close by themselves after ten minutes.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /MESSAGETIMEOUT 600 /MESSAGE *ALL "This server restarts for maintenance within %WAIT_MINUTES% minutes. New logons are stopped: please save your work and log off." %QUIET%

rem 3. Checks every ten seconds: Errorlevel 2 empty (or, in a rehearsal, would
rem    be waited for), 1 still in use when the time is up.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /WAITEMPTY %WAIT_MINUTES% %QUIET%
if errorlevel 2 (echo %1: nobody works on it any more.) else echo %1: still in use after %WAIT_MINUTES% minutes.

rem 4. Those who left without logging off.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /LOGOFFDISCONNECTED *ALL %QUIET%

rem 5. The restart prints its own word when the server accepted it, a
rem    "What if:" line in a rehearsal, and the reason when it was refused.
call :ask %1 /REASON %RESTART_REASON% /REBOOTIN %GRACE_MINUTES% "This server restarts in %GRACE_MINUTES% minutes for maintenance."
if "%LAST%"=="/REBOOTIN" goto :restarting
if "%LAST:~0,8%"=="What if:" goto :restarting
echo %1: the restart was refused: %LAST%
set RESULT=1
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /LOGONS ENABLE %QUIET%
echo %1: logons enabled again.
goto :eof
:restarting
if defined WHATIF echo %LAST%
echo %1: restarts in %GRACE_MINUTES% minutes.
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
