@echo off
rem ---------------------------------------------------------------------------
rem wait-until-inactive.cmd USER [MINUTES] - wait until USER is no longer
rem working on this server, for instance before a job that needs the user's
rem files closed.
rem
rem USER is a user name (any domain) or DOMAIN\user. MINUTES is how long to
rem wait at most (default 60).
rem Exit code: 0 the user is not (or no longer) active, 1 still active when
rem the time ran out, 2 no user was given.
rem
rem quillmarsh /STATUS prints nothing; its exit code tells the state of the
rem user's session:
rem   5 shadowing another session, 4 active, 3 connected (logon screen),
rem   2 disconnected, 1 another state, 0 no session found.
rem With several sessions the one listed last decides.
rem ---------------------------------------------------------------------------
setlocal

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

if "%~1"=="" (
  echo Usage: %~nx0 USER [MINUTES]
  exit /b 2
)
set "WHO=%~1"
set MINUTES=%~2
if "%MINUTES%"=="" set MINUTES=60

:check
"%QM%" /STATUS "%WHO%"
rem Active (4) and shadowing (5) mean the user is at work: wait a minute.
if %ERRORLEVEL% GEQ 4 goto still_active
echo %WHO% is not active (status %ERRORLEVEL%).
exit /b 0

:still_active
if %MINUTES% LEQ 0 (
  echo %WHO% is still active; giving up.
  exit /b 1
)
echo %WHO% is active; %MINUTES% minutes left to wait.
set /a MINUTES-=1
rem /SLEEP prints "Sleep: 60" and a dot per second; keep the window quiet.
"%QM%" /SLEEP 60 >nul
goto check
