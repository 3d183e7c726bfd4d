@echo off
rem ---------------------------------------------------------------------------
rem nightly-reboot.cmd - warn everybody, log everybody off and restart the
rem terminal server.
rem
rem Meant for the Task Scheduler: run it at night, as an account that is a
rem member of Administrators, with "Run with highest privileges" ticked
rem (quillmarsh refuses to reboot without elevated Administrator rights).
rem
rem quillmarsh carries out the commands on its command line from left to
rem right and ends with an exit code, which a batch file reads as
rem %ERRORLEVEL%. Each command that has something to report sets it; the
rem last one wins. /LOGFILE keeps a log in %TEMP%\quillmarsh.utf8.log.
rem
rem   nightly-reboot.cmd [/WHATIF]
rem
rem /WHATIF, anywhere among the arguments, rehearses it: the same steps and
rem waits, with every message, logoff and the reboot shown as a line "What
rem if: ..." instead of being done.
rem ---------------------------------------------------------------------------
setlocal

rem quillmarsh.exe beside this file, one folder up, or on the PATH.
set "QM=%~dp0quillmarsh.exe"
if not exist "%QM%" set "QM=%~dp0..\quillmarsh.exe"
if not exist "%QM%" set "QM=quillmarsh.exe"

set "WHATIF="
for %%A in (%*) do if /i "%%~A"=="/WHATIF" set "WHATIF=/WHATIF"

rem Minutes of warning before the logoff.
set WARN_MINUTES=15
rem Up to this many extra seconds are added at random to the wait, so that
rem servers of a farm that run this at the same time do not all restart in
rem the same minute.
set SPREAD_SECONDS=300

rem 1. Warn every session. The message boxes close by themselves after ten
rem    minutes (/MESSAGETIMEOUT is in seconds and applies to the /MESSAGE
rem    commands after it). *ALL is every session with somebody at the screen.
"%QM%" /LOGFILE %WHATIF% /MESSAGETIMEOUT 600 /MESSAGE *ALL "This server restarts in about %WARN_MINUTES% minutes for maintenance. Please save your work and log off."
rem    Errorlevel 2: the last message was delivered; 1: the last one failed;
rem    0: nobody was there to warn.
if %ERRORLEVEL% EQU 0 goto nobody
if %ERRORLEVEL% EQU 1 echo At least one warning could not be delivered.

rem 2. Wait: /SLEEP X R sleeps X seconds plus a random 0 to R-1 seconds,
rem    printing a dot per second. The last minute is waited for below.
set /a WAIT_SECONDS=%WARN_MINUTES% * 60 - 60
"%QM%" /SLEEP %WAIT_SECONDS% %SPREAD_SECONDS%

rem 3. A last warning that stays for 55 seconds, then the last minute.
"%QM%" %WHATIF% /MESSAGETIMEOUT 55 /MESSAGE *ALL "Last warning: this server restarts in one minute." /SLEEP 60
goto logoff

:nobody
if defined WHATIF echo Nobody is logged on: it would restart without waiting.
if not defined WHATIF echo Nobody is logged on: restarting without waiting.

:logoff
rem 4. Log off every session (a forced logoff: unsaved work is lost). The
rem    session that runs this batch file is never logged off by *ALL.
"%QM%" /LOGFILE %WHATIF% /LOGOFF *ALL
rem    Errorlevel 2: the last logoff worked; 1: the last one was refused (the
rem    lines printed above name each session); 0: no session was left.
if %ERRORLEVEL% NEQ 1 goto reboot
if defined WHATIF echo Some sessions could not be logged off; it would restart anyway.
if not defined WHATIF echo Some sessions could not be logged off; restarting anyway.

:reboot
rem 5. Give the logoffs a moment, then restart. /REBOOT does not change the
rem    Errorlevel: it prints "/REBOOT" when Windows accepted the request, and
rem    the reason underneath when Windows refused it.
"%QM%" /LOGFILE %WHATIF% /SLEEP 30 /REBOOT
endlocal
