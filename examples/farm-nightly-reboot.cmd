@echo off
rem ---------------------------------------------------------------------------
rem farm-nightly-reboot.cmd - warn everybody on every server of a farm, wait,
rem log everybody off and restart each server, all from one machine.
rem
rem   farm-nightly-reboot.cmd [/WHATIF] TS01 TS02 TS03
rem
rem /WHATIF rehearses it: the same steps and waits, with every message, logoff
rem and restart shown as a line "What if: ..." instead of being done.
rem
rem quillmarsh reaches each server named on the command line with /SERVER,
rem through Windows' own remote Terminal Services calls; the commands after
rem /SERVER act on that server. Run it from the Task Scheduler as an account
rem that may log off sessions on the servers and restart them remotely
rem (members of their Administrators group may).
rem
rem A server that does not answer, or refuses a step, is reported; the other
rem servers go on. Exit code: 0 every server restarts, 1 a server refused a
rem step, 2 no server was named, 4 a server was not reached ("Server Not OK";
rem 4 wins over 1).
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set "WHATIF="
if /i "%~1"=="/WHATIF" set "WHATIF=/WHATIF"
if defined WHATIF shift
if "%~1"=="" (
  echo Usage: %~nx0 [/WHATIF] server [server ...]
  exit /b 2
)

rem Minutes of warning before the logoff, and up to this many extra seconds
rem at random, so that the restart does not come at the same minute every
rem night.
set WARN_MINUTES=15
set SPREAD_SECONDS=300

set RESULT=0
set "UNREACHED="
rem The servers that answered, between blanks.
set "REACHED="

rem 1. On every server: is it there, then the first warning.
:next_server
if "%~1"=="" goto :warned
call :warn %1
shift
goto :next_server
:warned
if not defined REACHED (
  echo No server answered.
  exit /b 4
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
if defined UNREACHED exit /b 4
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
echo %1: does not answer, left out: %REASON%
set UNREACHED=yes
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
if %ERRORLEVEL% EQU 1 echo %1: some sessions could not be logged off; restarting anyway.
goto :eof

:reboot
rem /REBOOT leaves the Errorlevel alone: it prints "/REBOOT" when the server
rem accepted the request (a rehearsal "What if: /REBOOT on name"), and the
rem reason underneath when it refused.
set "OUT=%TEMP%\quillmarsh-farm-%RANDOM%.txt"
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /REBOOT > "%OUT%"
set "REFUSED="
set "NOT_OK="
set "REASON="
for /f "usebackq delims=" %%L in ("%OUT%") do (
  set "LINE=%%L"
  call :refused
)
if defined NOT_OK set UNREACHED=yes
del "%OUT%" 2>nul
if not defined REFUSED (
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

rem One line of the output of /REBOOT, in LINE: a rehearsal's line is shown,
rem any other but the command word is (the last line of) a refusal.
:refused
call :not_ok
if "%LINE%"=="/REBOOT" goto :eof
if not "%LINE:~0,20%"=="What if: /REBOOT on " set "REFUSED=%LINE%"
if "%LINE:~0,20%"=="What if: /REBOOT on " echo %LINE%
goto :eof
