#!/usr/bin/env bash
# Runs the Windows build (build/windows) under Wine, in a fresh prefix under
# the build folder: the checks of the executables and of the platform layer,
# every end-to-end case against quillmarsh-sim.exe, the smoke suite against
# quillmarsh.exe on Wine's own API, libraries planted beside quillmarsh.exe
# or missing, the end-to-end cases against quillmarsh.exe over the test
# wtsapi32.dll, the same program in a legacy ANSI code page over it, the
# example batch files over quillmarsh-sim.exe, a Ctrl+C in the middle of a
# logging run of each program, and the .msi of ./scripts/package.sh (run it
# first) in a fresh prefix of its own.
#
# quillmarsh.exe talks to the real API: under Wine, ExitWindowsEx succeeds
# and ends every process of the prefix. The smoke suite therefore never
# reboots, shuts down or logs off with /LOGOFFME.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
version=$(sed -n 's/^project(quillmarsh VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

export WINEPREFIX="$PWD/$build/wine-prefix"
export WINEDEBUG=-all
if [[ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ]]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
# One server for all the short runs that follow: each run then starts in a
# fraction of a second. Its processes end with the script.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
echo "Creating the Wine prefix $WINEPREFIX"
# The first start of a prefix now and then fails on a busy machine: one
# more try before giving up, with what it said.
if ! wineboot -i </dev/null >"$build/wineboot.log" 2>&1; then
  echo "wineboot failed; trying once more"
  wineserver -k 2>/dev/null || true
  wineserver -p
  if ! wineboot -i </dev/null >>"$build/wineboot.log" 2>&1; then
    cat "$build/wineboot.log"
    exit 1
  fi
fi

echo "-- executables"
python3 tests/wine/check_executables.py --version "$version" \
  "$build/quillmarsh.exe" "$build/quillmarsh-sim.exe"

echo "-- platform layer on Wine"
wine "$build/quillmarsh_platform_test.exe" </dev/null

echo "-- end-to-end cases against quillmarsh-sim.exe"
python3 tests/e2e/run_cases.py --program "$build/quillmarsh-sim.exe" \
  --cases tests/e2e/cases --wine-prefix "$WINEPREFIX"

echo "-- smoke suite against quillmarsh.exe on Wine's own API"
python3 tests/e2e/run_cases.py --program "$build/quillmarsh.exe" \
  --cases tests/wine/cases --wine-prefix "$WINEPREFIX"

# Before the test wtsapi32.dll replaces Wine's own in System32: the program
# must still answer with Wine's Terminal Services.
echo "-- libraries planted beside quillmarsh.exe, and missing ones"
python3 tests/wine/library_loading_test.py --program "$build/quillmarsh.exe" \
  --planted "$build/planted" --wine-prefix "$WINEPREFIX"

echo "-- end-to-end cases against quillmarsh.exe over the test wtsapi32.dll"
# Replaces Wine's own in this prefix only; the runner asks for it with a
# native DLL override, the runs above and below keep Wine's own.
cp "$build/simulated-wtsapi32/wtsapi32.dll" "$WINEPREFIX/drive_c/windows/system32/wtsapi32.dll"
python3 tests/e2e/run_cases.py --program "$build/quillmarsh.exe" --simulated-wtsapi32 \
  --cases tests/e2e/cases --wine-prefix "$WINEPREFIX"

echo "-- quillmarsh.exe in a legacy ANSI code page over the test wtsapi32.dll"
# Built without the manifest's UTF-8 code page, which Windows Server 2016 and
# 2019 ignore: in the C locale Wine then gives the process 1252, as such a
# server would.
LC_ALL=C.UTF-8 python3 tests/e2e/run_cases.py --program "$build/quillmarsh-legacy-acp.exe" \
  --simulated-wtsapi32 --cases tests/wine/legacy_code_page --wine-prefix "$WINEPREFIX"

echo "-- example batch files with Wine's cmd over quillmarsh-sim.exe"
python3 tests/wine/examples_test.py --simulated-program "$build/quillmarsh-sim.exe" \
  --wine-prefix "$WINEPREFIX"

echo "-- Ctrl+C during a logging run closes the log"
python3 tests/wine/ctrl_c_test.py --wine-prefix "$WINEPREFIX" \
  "$build/quillmarsh-sim.exe" "$build/quillmarsh.exe"

echo "-- the .msi in a prefix of its own: signed, installed, upgraded, removed"
python3 tests/wine/msi_test.py --msi "dist/quillmarsh-$version-x64.msi" --staging "$build/package" \
  --version "$version" --wine-prefix "$build/wine-prefix-msi"
