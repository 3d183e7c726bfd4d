@echo off
rem ---------------------------------------------------------------------------
rem end-app-before-update.cmd - before an application update: ends every
rem running copy of the application in the users' sessions on each server.
rem
rem   end-app-before-update.cmd IMAGE SERVER [SERVER ...] [/WHATIF]
rem   end-app-before-update.cmd winword.exe TS01 TS02 TS03
rem
rem IMAGE is the program's file name (winword.exe), in any letter case, with
rem no wildcards. On each server every copy of it that a session's own user
rem owns is ended (/ENDPROCESS IMAGE *ALL). A copy that belongs to another
rem account (SYSTEM, a service) is left alone and counted ("SERVER: N left
rem running"; the log names each), and the session this script runs in is
rem never touched. Unsaved work in the ended
rem copies is lost: warn the users first (/MESSAGE) and give them time.
rem With /WHATIF anywhere among the arguments, nothing is ended: each server
rem shows what would be.
rem
rem A server that does not answer, or refuses to end a copy, is reported; the
rem other servers go on. Exit code: 0 every server did it, 1 a server failed,
rem 2 usage (also for an argument that begins with "/", such as a forgotten
rem server name before a switch; nothing was asked), 4 a server was not
rem reached ("Server Not OK"; 4 wins over 1).
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

rem /WHATIF may stand anywhere; the other arguments keep their order, and
rem none begins with "/" (a forgotten name, a switch of another program).
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
if "%ARG:~0,1%"=="/" (
  echo %~nx0: "%ARG%" is not a server name: a server name does not begin with "/".
  goto :usage
)
set "ARGS=%ARGS% %1"
shift
goto :scan
:scanned
call :main %ARGS%
exit /b %ERRORLEVEL%

:main
set "IMAGE=%~1"
if "%IMAGE%"=="" goto :usage
if "%~2"=="" goto :usage

set RESULT=0
set "UNREACHED="
shift
:next
if "%~1"=="" goto :done
call :end_on %1
shift
goto :next
:done
if defined UNREACHED exit /b 4
exit /b %RESULT%

:usage
echo Usage: %~nx0 [/WHATIF] image server [server ...]
echo        image is the program's file name, e.g. winword.exe
exit /b 2

:end_on
set "OUT=%TEMP%\quillmarsh-end-app-%RANDOM%.txt"
set "ERR=%OUT%.err"
"%QM%" /LOGFILE %WHATIF% /SERVER %1 /ENDPROCESS "%IMAGE%" *ALL > "%OUT%" 2> "%ERR%"
rem Standard error names each copy left to its owner: "Not ended, owner ...".
set KEPT=0
for /f "usebackq tokens=1-3 delims=, " %%A in ("%ERR%") do (
  if "%%A %%B %%C"=="Not ended owner" set /a KEPT+=1
)
del "%ERR%" 2>nul
set ENDED=0
set REFUSED=0
set "DOWN="
set "AFTER="
set "REASON="
rem Each line begins with its word and a colon; a refusal's reason is the
rem line after it.
for /f "usebackq tokens=1* delims=:" %%A in ("%OUT%") do (
  if defined AFTER set "REASON=%%A"
  if defined AFTER if not "%%B"=="" set "REASON=%%A:%%B"
  set "AFTER="
  if "%%A"=="EndProcess OK" set /a ENDED+=1
  if "%%A"=="What if" set /a ENDED+=1
  if "%%A"=="What if" echo %%A:%%B
  if "%%A"=="EndProcess Not OK" set /a REFUSED+=1
  if "%%A"=="EndProcess Not OK" set AFTER=1
  if "%%A"=="Server Not OK" set DOWN=1
  if "%%A"=="Server Not OK" set AFTER=1
)
del "%OUT%" 2>nul
if defined DOWN goto :down
if defined WHATIF echo %1: %ENDED% would be ended.
if not defined WHATIF echo %1: %ENDED% ended.
if not %KEPT%==0 echo %1: %KEPT% left running: another account owns them.
if %REFUSED%==0 goto :eof
echo %1: %REFUSED% could not be ended: %REASON%
set RESULT=1
goto :eof

:down
echo %1: does not answer; left out: %REASON%
set UNREACHED=yes
goto :eof
