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
rem Listing needs no special rights. At most 49 servers in one call (each
rem takes two of the 100 commands of a run).
rem Exit code: 0 written, 2 no server given.
rem ---------------------------------------------------------------------------
setlocal EnableExtensions

set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

if "%~1"=="" (
  echo Usage: %~nx0 server [server ...]   or   %~nx0 @file-of-server-names
  exit /b 2
)

rem /CSV once, then /SERVER and /SESSIONINFO for each server: the heading
rem row comes once, from the first server, and a server that does not
rem answer adds no row.
set "COMMANDS=/CSV"
set COUNT=0
:next
if "%~1"=="" goto :run
set "NAME=%~1"
call :name
shift
goto :next

:run
if %COUNT% EQU 0 (
  echo No server names found.
  exit /b 2
)

rem Today's date: PowerShell where there is one, then wmic, then %DATE%
rem (whose form depends on the regional settings).
set STAMP=
for /f %%D in ('powershell -NoProfile -Command "Get-Date -Format yyyy-MM-dd" 2^>nul') do set "STAMP=%%D"
if not defined STAMP for /f "skip=1 tokens=1 delims=." %%D in ('wmic os get localdatetime 2^>nul') do if not defined STAMP set "STAMP=%%D"
if defined STAMP if "%STAMP:~4,1%" NEQ "-" set "STAMP=%STAMP:~0,4%-%STAMP:~4,2%-%STAMP:~6,2%"
if not defined STAMP set "STAMP=%DATE:/=-%"
set "STAMP=%STAMP: =%"
set "REPORT=sessions-%STAMP%.csv"

"%QM%" %COMMANDS% > "%REPORT%"
echo %COUNT% server(s) written to %REPORT%.
echo Open it in PowerShell: Import-Csv .\%REPORT% ^| Format-Table
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
goto :eof
