@echo off
rem ---------------------------------------------------------------------------
rem farm-nightly-reboot.cmd - warn everybody on every server of a farm, wait,
rem log everybody off and restart each server, all from one machine.
rem
rem   farm-nightly-reboot.cmd TS01 TS02 TS03 [/WHATIF]
rem
rem /WHATIF, anywhere among the arguments, rehearses it: the same steps and
rem waits, with every message, logoff and restart shown as a line "What if:
rem ..." instead of being done, and each server's line says what would happen.
rem
rem quillmarsh reaches each server named on the command line with /SERVER,
rem through Windows' own remote Terminal Services calls; the commands after
rem /SERVER act on that server. Run it from the Task Scheduler as an account
rem that may log off sessions on the servers and restart them remotely
rem (members of their Administrators group may).
rem
rem A server that does not answer, refuses this account, or refuses a step is
rem reported; the other servers go on. A restart that got no answer in time
rem may still come: it is reported, so that you check that server yourself.
rem Exit code, the first that applies:
rem   2 usage (no server, or a server name that begins with "/"; nothing was
rem     asked)
rem   6 a restart got no answer in time: its outcome is unknown
rem   4 a server was not reached ("Server Not OK" and the reason)
rem   5 a server refused this account ("Server Not OK", Access is denied [5])
rem   1 a server refused a step
rem   0 every server restarts
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

rem /WHATIF may stand anywhere; every other argument is a server, and none
rem begins with "/" (a forgotten name, a switch of another program).
set "WHATIF="
set "SERVERS="
:scan
if "%~1"=="" goto :scanned
if /i "%~1"=="/WHATIF" (
  set "WHATIF=/WHATIF"
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
:usage
echo Usage: %~nx0 [/WHATIF] server [server ...]
exit /b 2
:scanned
if not defined SERVERS goto :usage

rem Minutes of warning before the logoff, and up to this many extra seconds
rem at random, so that the restart does not come at the same minute every
rem night.
set WARN_MINUTES=15
set SPREAD_SECONDS=300

set RESULT=0
set "UNREACHED="
set "DENIED="
set "UNKNOWN="
rem The servers that answered, between blanks.
set "REACHED="

rem 1. On every server: is it there, then the first warning.
for %%S in (%SERVERS%) do call :warn %%S
if not defined REACHED if defined UNREACHED (
  echo No server answered.
  exit /b 4
)
if not defined REACHED (
  echo No server let this account in.
  exit /b 5
)

rem 2. One wait for all servers: /SLEEP X R sleeps X seconds plus a random
rem    0 to R-1 seconds. Then a last warning everywhere and the last minute.
set /a WAIT_SECONDS=%WARN_MINUTES% * 60 - 60
"%QM%" /SLEEP %WAIT_SECONDS% %SPREAD_SECONDS%
for %%S in (%REACHED%) do "%QM%" %WHATIF% /SERVER %%S /MESSAGETIMEOUT 55 /MESSAGE *ALL "Last warning: this server restarts in one minute."
"%QM%" /SLEEP 60

rem 3. Log off every session of every server (a forced logoff).
for %%S in (%REACHED%) do call :logoff %%S

rem 4. Give the logoffs a moment, then restart each server.
"%QM%" /SLEEP 30
for %%S in (%REACHED%) do call :reboot %%S
if defined UNKNOWN exit /b 6
if defined UNREACHED exit /b 4
if defined DENIED exit /b 5
exit /b %RESULT%

:warn
rem /SERVER asks the server for its sessions at once; one that does not
rem answer is reported as "Server Not OK: name" with the reason underneath.
set "OUT=%TEMP%\quillmarsh-farm-%RANDOM%.txt"
"%QM%" /LOGFILE /SERVER %1 /LISTALLSESSIONS > "%OUT%"
set "NOT_OK="
set "REASON="
for /f "usebackq delims=" %%L in ("%OUT%") do (
  set "LINE=%%L"
  call :not_ok
)
del "%OUT%" 2>nul
if not defined NOT_OK goto :reached
rem A reason that ends in [5] is a refusal of this account.
if "%REASON:~-3%"=="[5]" goto :not_let_in
echo %1: does not answer, left out: %REASON%
set UNREACHED=yes
goto :eof
:not_let_in
echo %1: refused this account, left out: %REASON%
set DENIED=yes
goto :eof
:reached
set "REACHED=%REACHED% %1"
rem The message boxes close by themselves after ten minutes.
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /MESSAGETIMEOUT 600 /MESSAGE *ALL "This server restarts in about %WARN_MINUTES% minutes for maintenance. Please save your work and log off."
rem Errorlevel 2: the last message was delivered; 1: it failed; 0: nobody
rem was there to warn.
if %ERRORLEVEL% EQU 1 echo %1: at least one warning could not be delivered.
goto :eof

:logoff
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /LOGOFF *ALL
rem Errorlevel 2: the last logoff worked; 1: it was refused (the lines above
rem name each session); 0: nobody was logged on.
if %ERRORLEVEL% NEQ 1 goto :eof
if defined WHATIF echo %1: some sessions could not be logged off; it would restart anyway.
if not defined WHATIF echo %1: some sessions could not be logged off; restarting anyway.
goto :eof

:reboot
rem /REBOOT leaves the Errorlevel alone: it prints "/REBOOT" when the server
rem accepted the request (a rehearsal "What if: /REBOOT on name"), and the
rem reason underneath when it refused; given up on at the time limit, the
rem reason and "Outcome unknown: name may still carry it out".
set "OUT=%TEMP%\quillmarsh-farm-%RANDOM%.txt"
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /REBOOT > "%OUT%"
set "REFUSED="
set "NOT_OK="
set "REASON="
set "NO_ANSWER="
for /f "usebackq delims=" %%L in ("%OUT%") do (
  set "LINE=%%L"
  call :refused
)
if defined NOT_OK set UNREACHED=yes
del "%OUT%" 2>nul
if defined NO_ANSWER goto :reboot_unknown
if not defined REFUSED (
  if defined WHATIF echo %1: would restart.
  if not defined WHATIF echo %1: restarting.
  goto :eof
)
echo %1: the restart was refused: %REFUSED%
set RESULT=1
goto :eof

rem One line of the output, in LINE: "Server Not OK: name" and its reason.
:not_ok
if defined NOT_OK if not defined REASON set "REASON=%LINE%"
if "%LINE:~0,15%"=="Server Not OK: " set NOT_OK=yes
goto :eof

rem The request may still reach the server: nothing is undone or repeated.
:reboot_unknown
echo %1: no answer in time: the restart may still come; check that server.
set UNKNOWN=yes
goto :eof

rem One line of the output of /REBOOT, in LINE: a rehearsal's line is shown,
rem any other but the command word is (the last line of) a refusal.
:refused
call :not_ok
if "%LINE%"=="/REBOOT" goto :eof
if "%LINE:~0,17%"=="Outcome unknown: " set NO_ANSWER=yes
if not "%LINE:~0,20%"=="What if: /REBOOT on " set "REFUSED=%LINE%"
if "%LINE:~0,20%"=="What if: /REBOOT on " echo %LINE%
goto :eof
