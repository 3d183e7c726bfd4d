@echo off
rem ---------------------------------------------------------------------------
rem ask-before-restart.cmd - restart servers of a farm only when nobody on
rem them says no.
rem
rem   ask-before-restart.cmd [/WHATIF] MINUTES SERVER [SERVER ...]
rem   ask-before-restart.cmd 30 TS01 TS02 TS03
rem
rem For each server, one after the other:
rem   1. new logons stop until the server restarts (/LOGONS DRAINUNTILRESTART);
rem   2. everyone on it is asked "May the server restart in MINUTES minutes?"
rem      (/ASK: all at once, No is the default button, the box closes itself
rem      after ASK_SECONDS seconds; nobody answering counts as no objection);
rem   3. when anyone answers No, logons are enabled again and the server is
rem      reported as postponed; otherwise
rem   4. the users are told, and it waits up to MINUTES minutes until nobody
rem      works on it any more (/WAITEMPTY);
rem   5. the disconnected sessions are logged off;
rem   6. the server restarts by itself after GRACE_MINUTES minute (/REBOOTIN),
rem      with RESTART_REASON as the reason Windows records (/REASON).
rem A server that does not answer ("Server Not OK"), refuses this account
rem (Access is denied [5]) or cannot be drained is left alone. When a server
rem refuses the restart, its logons are enabled again; when an answer never
rem came (the time limit), nothing is undone, since the server may still
rem carry the step out, and the server is reported so that you check it.
rem
rem With /WHATIF anywhere among the arguments nothing is changed: every step
rem shows what it would do, and nobody is asked or waited for.
rem MINUTES is 1 to 1440. Run it as an administrator of the servers.
rem Exit code, the first that applies:
rem   2 usage (nothing was asked)
rem   6 a step got no answer in time: its outcome is unknown
rem   4 a server was not reached
rem   5 a server refused this account
rem   1 a server failed a step
rem   3 a server was postponed
rem   0 every server restarts (or would)
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set ASK_SECONDS=300
set GRACE_MINUTES=1
rem Planned, application, maintenance.
set RESTART_REASON=p:4:1

rem /WHATIF anywhere; the first other argument is MINUTES, the rest servers.
rem A server name never begins with "/": a mistyped option is not a server.
set "WHATIF="
set "MINUTES="
set "SERVERS="
set "BAD="
:arguments
if "%~1"=="" goto :arguments_done
if /i "%~1"=="/WHATIF" (set "WHATIF=/WHATIF") else call :argument "%~1"
shift
goto :arguments
:arguments_done
if defined BAD goto :usage
if not defined SERVERS goto :usage
rem Digits only, no leading zero (cmd would read 010 as octal), at most four.
set "DIGITS_ONLY=yes"
for /f "delims=0123456789" %%C in ("%MINUTES%") do set "DIGITS_ONLY="
if not defined DIGITS_ONLY goto :usage
if "%MINUTES:~0,1%"=="0" goto :usage
set "PADDED=%MINUTES%----"
if not "%PADDED:~4,1%"=="-" goto :usage
if %MINUTES% GTR 1440 goto :usage

rem Where the output of the steps goes: nowhere, or the console in a rehearsal.
set "QUIET=>nul"
if defined WHATIF set "QUIET="
set "WOULD="
if defined WHATIF set "WOULD=would "

set "FAILED="
set "POSTPONED="
set "UNREACHED="
set "REFUSED="
set "UNKNOWN="
for %%S in (%SERVERS%) do call :server %%S
if defined UNKNOWN exit /b 6
if defined UNREACHED exit /b 4
if defined REFUSED exit /b 5
if defined FAILED exit /b 1
if defined POSTPONED exit /b 3
exit /b 0

:argument
set "ARG=%~1"
if not defined MINUTES (
  set "MINUTES=%ARG%"
  goto :eof
)
if "%ARG:~0,1%"=="/" set BAD=yes
set "SERVERS=%SERVERS% %ARG%"
goto :eof

:usage
echo Usage: %~nx0 [/WHATIF] minutes server [server ...]
echo minutes: a whole number from 1 to 1440; a server name never begins with "/".
exit /b 2

:server
rem 0. /SERVER asks the server for its sessions at once; one that does not
rem    answer is reported as "Server Not OK: name" with the reason underneath.
call :run %1 /LISTALLSESSIONS
if not defined NOT_OK goto :answered
if "%REASON:~-3%"=="[5]" goto :refused
echo %1: does not answer: %REASON%; left alone.
set UNREACHED=yes
goto :eof
:refused
echo %1: refused this account: %REASON%; left alone.
set REFUSED=yes
goto :eof
:answered

rem 1. Errorlevel 2: drained (or would be); otherwise the reason is the last
rem    line of the output.
call :run %1 /LOGONS DRAINUNTILRESTART
if "%RAN%"=="2" goto :drained
echo %1: could not be drained: %LAST%; left alone.
set FAILED=yes
goto :eof
:drained
echo %1: new logons %WOULD%stop until the restart.

rem 2. Errorlevel 3: someone answered No (2 everyone Yes, 1 not everyone
rem    answered; unchanged, 0 here: nobody to ask).
call :run %1 /NOTME /ASK %ASK_SECONDS% *ALL "May the server restart in %MINUTES% minutes?"
if not "%RAN%"=="3" goto :agreed
echo %1: postponed: someone answered No.
set POSTPONED=yes
goto :enable_again
:agreed

rem 3. The users are told; the boxes close by themselves after ten minutes.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /NOTME /MESSAGETIMEOUT 600 /MESSAGE *ALL "This server restarts for maintenance within %MINUTES% minutes. Please save your work and log off." %QUIET%

rem 4. Errorlevel 2 empty (or, in a rehearsal, would be waited for), 1 still
rem    in use when the time is up.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /WAITEMPTY %MINUTES% %QUIET%
if defined WHATIF (echo %1: would wait up to %MINUTES% minutes for the users to leave.) else if errorlevel 2 (echo %1: nobody works on it any more.) else echo %1: still in use after %MINUTES% minutes.

rem 5. Those who left without logging off.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /LOGOFFDISCONNECTED *ALL %QUIET%

rem 6. The restart prints its own word when the server accepted it, a
rem    "What if:" line in a rehearsal, and the reason when it was refused.
call :run %1 /REASON %RESTART_REASON% /REBOOTIN %GRACE_MINUTES% "This server restarts in %GRACE_MINUTES% minute for maintenance."
if "%LAST%"=="/REBOOTIN" goto :restarting
if "%LAST:~0,8%"=="What if:" goto :restarting
set FAILED=yes
if "%LAST:~0,16%"=="Outcome unknown:" goto :unknown
if "%LAST:~-6%"=="[1460]" goto :unknown
echo %1: the restart was refused: %LAST%
goto :enable_again
:unknown
echo %1: no answer to the restart in time: %1 may still carry it out; logons left as they are.
set UNKNOWN=yes
goto :eof

:enable_again
rem Errorlevel 2 enabled (or would be), 3 the answer never came, 1 refused.
rem    (No block around the reason: it may hold a parenthesis.)
call :run %1 /LOGONS ENABLE
if "%RAN%"=="3" goto :enable_unknown
if not "%RAN%"=="2" goto :enable_refused
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
:restarting
if defined WHATIF (echo %1: would restart in %GRACE_MINUTES% minute.) else echo %1: restarts in %GRACE_MINUTES% minute.
goto :eof

:run
rem Runs quillmarsh on server %1 with the rest of the arguments: RAN is its
rem Errorlevel, LAST the last line it printed, NOT_OK and REASON tell a
rem server that failed its check. "What if:" and "Answer No:" lines are shown.
set "OUT=%TEMP%\quillmarsh-ask-%RANDOM%.txt"
"%QM%" /LOGFILE %WHATIF% /SERVER %* > "%OUT%"
set RAN=%ERRORLEVEL%
set "LAST="
set "NOT_OK="
set "REASON="
for /f "usebackq delims=" %%L in ("%OUT%") do (
  set "LINE=%%L"
  call :line
)
del "%OUT%" 2>nul
goto :eof

:line
if defined NOT_OK if not defined REASON set "REASON=%LINE%"
if "%LINE:~0,15%"=="Server Not OK: " set NOT_OK=yes
if "%LINE:~0,8%"=="What if:" echo %LINE%
if "%LINE:~0,11%"=="Answer No: " echo %LINE%
set "LAST=%LINE%"
goto :eof
