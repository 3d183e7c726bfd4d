@echo off
rem ---------------------------------------------------------------------------
rem idle-report.cmd - one CSV file with every session of a list of terminal
rem servers: who is logged on where, since when, from which client, and idle
rem for how long.
rem
rem Usage:  idle-report.cmd TS01 TS02 TS03
rem         idle-report.cmd @servers.txt     (one name a line; ; starts a comment)
rem
rem It writes sessions-YYYY-MM-DD.csv in the current folder (UTF-8, one
rem heading row, times in UTC) and tells how to read it. Open it in
rem PowerShell, for instance:
rem
rem   Import-Csv .\sessions-2026-12-08.csv |
rem     Where-Object state -eq Disconnected |
rem     Sort-Object { [int]$_.idle_seconds } -Descending |
rem     Format-Table server, user, client_name, disconnect_time, idle_seconds
rem
rem Listing needs no special rights. Any number of servers: they are asked
rem 40 at a time (each takes two of the 100 commands of a run).
rem A server that does not answer, or refuses this account, adds no row and
rem is reported with its reason ("Server Not OK", which the program writes to
rem standard error after /CSV). /WHATIF, anywhere, is passed on: a listing
rem changes nothing, so the report is the same.
rem Exit code: 0 every server written, 2 usage (no server given, or a server
rem name that begins with "/", in the arguments or the file; nothing was
rem asked), 4 a server was not reached, 5 a server refused this account
rem (Access is denied [5]; 4 wins over 5); the file holds the others.
rem ---------------------------------------------------------------------------
setlocal EnableExtensions

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

rem /WHATIF may stand anywhere. No server name begins with "/" (a forgotten
rem name, a switch of another program): such a name is refused before any
rem server is asked, in a file of names too.
set "WHATIF="
set "ARGS="
set "SLASHED="
:scan
if "%~1"=="" goto :scanned
if /i "%~1"=="/WHATIF" (
  set "WHATIF=/WHATIF"
  shift
  goto :scan
)
set "NAME=%~1"
if "%NAME:~0,1%"=="/" goto :slashed
if not "%NAME:~0,1%"=="@" goto :keep
rem (A missing file is reported once, when its names are read.)
if not exist "%NAME:~1%" goto :keep
for /f "usebackq eol=; tokens=1" %%S in ("%NAME:~1%") do call :slashed_in_file %%S
if defined SLASHED goto :slashed
:keep
set "ARGS=%ARGS% %1"
shift
goto :scan
:slashed_in_file
set "IN_FILE=%~1"
if "%IN_FILE:~0,1%"=="/" set "SLASHED=%IN_FILE%"
goto :eof
:slashed
if defined SLASHED set "NAME=%SLASHED%"
echo %~nx0: "%NAME%" is not a server name: a server name does not begin with "/".
:usage
echo Usage: %~nx0 server [server ...]   or   %~nx0 @file-of-server-names
exit /b 2
:scanned
if not defined ARGS goto :usage
call :main %ARGS%
exit /b %ERRORLEVEL%

:main

rem Today's date: PowerShell where there is one, then wmic, then %DATE%
rem (whose form depends on the regional settings).
set STAMP=
for /f %%D in ('powershell -NoProfile -Command "Get-Date -Format yyyy-MM-dd" 2^>nul') do set "STAMP=%%D"
if not defined STAMP for /f "skip=1 tokens=1 delims=." %%D in ('wmic os get localdatetime 2^>nul') do if not defined STAMP set "STAMP=%%D"
if defined STAMP if "%STAMP:~4,1%" NEQ "-" set "STAMP=%STAMP:~0,4%-%STAMP:~4,2%-%STAMP:~6,2%"
if not defined STAMP set "STAMP=%DATE:/=-%"
set "STAMP=%STAMP: =%"
set "REPORT=sessions-%STAMP%.csv"
set "PART=%TEMP%\quillmarsh-report-%RANDOM%.csv"
set "ERRORS=%TEMP%\quillmarsh-report-%RANDOM%.txt"
type nul > "%REPORT%"

rem /CSV, then /SERVER and /SESSIONINFO for each server: the heading row
rem comes once in a run, from the first server that answers, and a server
rem that does not answer adds no row. Each run's rows go to the end of the
rem report; only the first heading is kept.
set COUNT=0
set NOT_OK=0
set DENIED=0
set "COMMANDS="
set IN_RUN=0
:next
if "%~1"=="" goto :last
set "NAME=%~1"
call :name
shift
goto :next

:last
call :run
del "%PART%" "%ERRORS%" 2>nul
if %COUNT% EQU 0 (
  del "%REPORT%" 2>nul
  echo No server names found.
  exit /b 2
)
set /a WRITTEN=COUNT-NOT_OK-DENIED
echo %WRITTEN% of %COUNT% server(s) written to %REPORT%.
echo Open it in PowerShell: Import-Csv .\%REPORT% ^| Format-Table
if %NOT_OK% GTR 0 exit /b 4
if %DENIED% GTR 0 exit /b 5
exit /b 0

rem One argument, in NAME: a server name, or @ and a file of them.
:name
if not "%NAME:~0,1%"=="@" goto :one
for /f "usebackq eol=; tokens=1" %%S in ("%NAME:~1%") do call :add %%S
goto :eof
:one
call :add "%NAME%"
goto :eof

rem One server name, in %1.
:add
set "COMMANDS=%COMMANDS% /SERVER %~1 /SESSIONINFO *ALL"
set /a COUNT+=1
set /a IN_RUN+=1
if %IN_RUN% GEQ 40 call :run
goto :eof

rem One run for the servers gathered in COMMANDS.
:run
if not defined COMMANDS goto :eof
"%QM%" %WHATIF% /CSV %COMMANDS% > "%PART%" 2> "%ERRORS%"
set "COMMANDS="
set IN_RUN=0
rem What went to standard error: "Server Not OK: name", its reason.
type "%ERRORS%"
set "FAILED="
for /f "usebackq delims=" %%L in ("%ERRORS%") do (
  set "LINE=%%L"
  call :error_line
)
for %%F in ("%REPORT%") do set "SIZE=%%~zF"
if %SIZE% EQU 0 (
  copy /b /y "%PART%" "%REPORT%" > nul
  goto :eof
)
rem The rows of a later run, without its heading. for /f passes over empty
rem lines and lines that start with ";", which only a quoted field that holds
rem a line break could bring.
for /f "usebackq skip=1 delims=" %%L in ("%PART%") do >> "%REPORT%" echo.%%L
goto :eof

rem One line of it, in LINE; FAILED the server of the line before, whose
rem reason this line may be. A reason that ends in [5] is a refusal of this
rem account, any other a server that does not answer.
:error_line
if defined FAILED goto :reason_line
if "%LINE:~0,15%"=="Server Not OK: " set "FAILED=%LINE:~15%"
goto :eof
:reason_line
if "%LINE:~-3%"=="[5]" (
  echo %FAILED%: refused this account; no rows.
  set /a DENIED+=1
) else (
  echo %FAILED%: does not answer; no rows.
  set /a NOT_OK+=1
)
set "FAILED="
goto :eof
