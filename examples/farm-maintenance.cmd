@echo off
rem ---------------------------------------------------------------------------
rem farm-maintenance.cmd - a maintenance window for a farm: every server
rem restarts by itself after a grace period, or the countdowns are cancelled.
rem
rem   farm-maintenance.cmd restart MINUTES TS01 TS02 TS03 [/WHATIF]
rem   farm-maintenance.cmd abort TS01 TS02 TS03 [/WHATIF]
rem
rem restart asks each server to restart by itself in MINUTES minutes (a whole
rem number from 1 to 14400; /REBOOTIN), and once the server has accepted,
rem warns everybody on it with a message box: nobody is told of a restart
rem that is not coming. Windows shows the text and the time left to the
rem people on the server; the countdowns run on the servers, in parallel, and
rem no longer depend on this machine. Sessions still open when the time is up
rem are logged off without asking.
rem abort cancels the countdown on each server (/ABORTSHUTDOWN) and tells
rem the people on it.
rem /WHATIF, anywhere among the arguments, rehearses either: each countdown,
rem cancellation and message is shown as a line "What if: ..." instead of
rem being done, and each server's line says what would happen.
rem
rem A server that does not answer, refuses this account, or refuses the
rem request is reported; the other servers go on. A request that got no answer
rem in time may still be carried out by the server: nobody on it is told
rem anything, and it is reported so that you check that server yourself.
rem Exit code, the first that applies:
rem   2 usage (a wrong or missing argument, or a server name that begins
rem     with "/"; nothing was asked)
rem   6 a request got no answer in time: its outcome is unknown
rem   4 a server was not reached ("Server Not OK" and the reason)
rem   5 a server refused this account ("Server Not OK", Access is denied [5])
rem   1 a server refused the request
rem   0 every server did it
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

rem /WHATIF may stand anywhere; the other arguments keep their order. No
rem argument begins with "/": a server name that does is a mistake (a
rem forgotten name, a switch of another program), never a server.
set "WHATIF="
set "ARGS="
:scan
if "%~1"=="" goto :scanned
if /i "%~1"=="/WHATIF" (
  set "WHATIF=/WHATIF"
  shift
  goto :scan
)
set "ARG=%~1"
if "%ARG:~0,1%"=="/" goto :slash
set "ARGS=%ARGS% %1"
shift
goto :scan
:slash
echo %~nx0: "%ARG%" is not a server name: a server name does not begin with "/".
goto :usage
:scanned
call :main %ARGS%
exit /b %ERRORLEVEL%

:main
set RESULT=0
set "UNREACHED="
set "DENIED="
set "UNKNOWN="
if /i "%~1"=="restart" goto :restart_all
if /i "%~1"=="abort" goto :abort_all
goto :usage

:restart_all
set "MINUTES=%~2"
if "%~3"=="" goto :usage
rem Digits only, no leading zero (cmd would read 010 as octal), at most five.
if not defined MINUTES goto :usage
set "DIGITS_ONLY=yes"
for /f "delims=0123456789" %%C in ("%MINUTES%") do set "DIGITS_ONLY="
if not defined DIGITS_ONLY goto :usage
if "%MINUTES:~0,1%"=="0" goto :usage
set "PADDED=%MINUTES%-----"
if not "%PADDED:~5,1%"=="-" goto :usage
if %MINUTES% GTR 14400 goto :usage
shift
shift
:restart_next
if "%~1"=="" goto :done
call :restart %1
shift
goto :restart_next

:abort_all
if "%~2"=="" goto :usage
shift
:abort_next
if "%~1"=="" goto :done
call :abort %1
shift
goto :abort_next

:done
if defined UNKNOWN exit /b 6
if defined UNREACHED exit /b 4
if defined DENIED exit /b 5
exit /b %RESULT%

:usage
echo Usage: %~nx0 [/WHATIF] restart minutes server [server ...]
echo        %~nx0 [/WHATIF] abort server [server ...]
echo minutes: a whole number from 1 to 14400.
exit /b 2

:restart
set "TEXT=This server restarts in %MINUTES% minutes for maintenance. Please save your work and log off."
call :ask %1 /REBOOTIN %MINUTES% "%TEXT%"
if defined NO_ANSWER goto :restart_unknown
if defined NOT_OK goto :not_reached
if defined REFUSED goto :restart_refused
if defined WHATIF echo %1: would restart in %MINUTES% minutes.
if not defined WHATIF echo %1: restarts in %MINUTES% minutes.
call :message %1 "%TEXT%"
goto :eof
:restart_unknown
echo %1: no answer in time: the restart may still come. Nobody on it was told; check that server.
set UNKNOWN=yes
goto :eof
:restart_refused
echo %1: the restart was refused: %REFUSED%
set RESULT=1
goto :eof

:abort
call :ask %1 /ABORTSHUTDOWN
if defined NO_ANSWER goto :abort_unknown
if defined NOT_OK goto :not_reached
if defined REFUSED goto :abort_refused
if defined WHATIF echo %1: the restart would be cancelled.
if not defined WHATIF echo %1: the restart is cancelled.
call :message %1 "The maintenance restart of this server is cancelled."
goto :eof
:abort_unknown
echo %1: no answer in time: the countdown may or may not be cancelled. Nobody on it was told; check that server.
set UNKNOWN=yes
goto :eof
:abort_refused
echo %1: the countdown could not be cancelled: %REFUSED%
set RESULT=1
goto :eof

rem The server in %1 failed its check: its sessions cannot be told. The
rem restart and abort requests do not go through Terminal Services and may
rem still have worked. A reason that ends in [5] is a refusal of this
rem account (Access is denied), any other a server that does not answer.
:not_reached
if "%REASON:~-3%"=="[5]" goto :not_let_in
echo %1: does not answer: %REASON%
set UNREACHED=yes
goto :accepted_anyway
:not_let_in
echo %1: refused this account: %REASON%
set DENIED=yes
:accepted_anyway
if defined ACCEPTED echo %1: the request was accepted all the same; nobody on it was told.
goto :eof

rem Sends the text %2 to every session on the server %1; a rehearsal shows
rem its "What if:" lines.
:message
if defined WHATIF goto :message_shown
"%QM%" /LOGFILE /SERVER %1 /MESSAGETIMEOUT 600 /MESSAGE *ALL %2 > nul
goto :eof
:message_shown
"%QM%" /LOGFILE /WHATIF /SERVER %1 /MESSAGETIMEOUT 600 /MESSAGE *ALL %2
goto :eof

rem Runs one machine command on the server %1. The command prints its own
rem word, and the reason underneath when the server refused (a rehearsal
rem prints a "What if:" line instead); the Errorlevel stays. A server that
rem failed its check prints "Server Not OK: name" and the reason first. A
rem request given up on at the time limit adds "Outcome unknown: name may
rem still carry it out" after its reason (NO_ANSWER).
:ask
set "OUT=%TEMP%\quillmarsh-maintenance-%RANDOM%.txt"
"%QM%" /LOGFILE %WHATIF% /SERVER %*  > "%OUT%"
set "WORD=%2"
set "ACCEPTED="
set "REFUSED="
set "NOT_OK="
set "REASON="
set "NO_ANSWER="
for /f "usebackq delims=" %%L in ("%OUT%") do (
  set "LINE=%%L"
  call :line
)
del "%OUT%" 2>nul
goto :eof

rem One line of that output, in LINE.
:line
set "KIND=refusal"
if "%LINE%"=="%WORD%" set "KIND=accepted"
if "%LINE:~0,9%"=="What if: " set "KIND=rehearsed"
if defined NOT_OK if not defined REASON set "KIND=reason"
if "%LINE:~0,15%"=="Server Not OK: " set "KIND=not_ok"
if "%LINE:~0,17%"=="Outcome unknown: " set "KIND=unknown"
goto :line_%KIND%
:line_unknown
set NO_ANSWER=yes
set "ACCEPTED="
goto :eof
:line_refusal
set "REFUSED=%LINE%"
set "ACCEPTED="
goto :eof
:line_rehearsed
echo %LINE%
:line_accepted
set ACCEPTED=yes
goto :eof
:line_reason
set "REASON=%LINE%"
goto :eof
:line_not_ok
set NOT_OK=yes
goto :eof
