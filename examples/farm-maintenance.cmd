@echo off
rem ---------------------------------------------------------------------------
rem farm-maintenance.cmd - a maintenance window for a farm: every server
rem restarts by itself after a grace period, or the countdowns are cancelled.
rem
rem   farm-maintenance.cmd restart MINUTES TS01 TS02 TS03
rem   farm-maintenance.cmd abort TS01 TS02 TS03
rem
rem restart warns everybody on each server with a message box, then asks the
rem server to restart by itself in MINUTES minutes (/REBOOTIN). Windows shows
rem the text and the time left to the people on the server; the countdowns run
rem on the servers, in parallel, and no longer depend on this machine. Sessions
rem still open when the time is up are logged off without asking.
rem abort cancels the countdown on each server (/ABORTSHUTDOWN) and tells
rem the people on it.
rem
rem A server that does not answer, or refuses, is reported; the other servers
rem go on. Exit code: 0 every server did it, 1 a server failed, 2 usage.
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set RESULT=0
if /i "%~1"=="restart" goto :restart_all
if /i "%~1"=="abort" goto :abort_all
goto :usage

:restart_all
set "MINUTES=%~2"
if "%~3"=="" goto :usage
shift
shift
:restart_next
if "%~1"=="" exit /b %RESULT%
call :restart %1
shift
goto :restart_next

:abort_all
if "%~2"=="" goto :usage
shift
:abort_next
if "%~1"=="" exit /b %RESULT%
call :abort %1
shift
goto :abort_next

:usage
echo Usage: %~nx0 restart minutes server [server ...]
echo        %~nx0 abort server [server ...]
exit /b 2

:restart
set "TEXT=This server restarts in %MINUTES% minutes for maintenance. Please save your work and log off."
"%QM%" /LOGFILE /SERVER %1 /MESSAGETIMEOUT 600 /MESSAGE *ALL "%TEXT%" > nul
call :ask %1 /REBOOTIN %MINUTES% "%TEXT%"
if defined REFUSED (
  echo %1: the restart was refused: %REFUSED%
  set RESULT=1
) else (
  echo %1: restarts in %MINUTES% minutes.
)
goto :eof

:abort
call :ask %1 /ABORTSHUTDOWN
if defined REFUSED (
  echo %1: the countdown could not be cancelled: %REFUSED%
  set RESULT=1
  goto :eof
)
echo %1: the restart is cancelled.
"%QM%" /LOGFILE /SERVER %1 /MESSAGETIMEOUT 600 /MESSAGE *ALL "The maintenance restart of this server is cancelled." > nul
goto :eof

:ask
rem The command prints its own word when the server accepted the request,
rem and the reason underneath when it refused; the Errorlevel stays.
set "OUT=%TEMP%\quillmarsh-maintenance-%RANDOM%.txt"
"%QM%" /LOGFILE /SERVER %*  > "%OUT%"
set "REFUSED="
for /f "usebackq delims=" %%L in ("%OUT%") do if not "%%L"=="%2" set "REFUSED=%%L"
del "%OUT%" 2>nul
goto :eof
