#!/usr/bin/env python3
"""Shows that libraries planted beside quillmarsh.exe never run, and that
missing ones make calls fail, not the start.

A scratch folder holds a copy of the program and, under the names of the
system libraries it uses, a wtsapi32.dll and a netapi32.dll that leave a
marker file when they are loaded. Wine is told to prefer such native copies
to its own, as Windows would take a copy it finds beside the program.

1. A probe that loads each name the usual way (LoadLibraryA with the default
   search order) from that folder must load the planted copy: otherwise the
   test could not tell anything.
2. The program, started in that folder, lists sessions, asks for a user's
   status and disconnects its own session (netapi32 is loaded at every
   start): it must answer with Wine's own Terminal Services, and no marker
   may appear.
3. With wtsapi32 and netapi32 switched off, the program still starts, and
   disconnecting its own session fails with 126 (the library is missing).

Run it in a prefix whose System32 holds Wine's own wtsapi32.dll. Prints one
line per check and "N passed, N failed"; exits 1 on a failure.
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

LIBRARIES = ("wtsapi32.dll", "netapi32.dll")
# Listing and status find no session under Wine; disconnecting the own
# session succeeds there (it does nothing), and fails with the planted copy.
ARGUMENTS = ["/LISTALLSESSIONS", "/STATUS", "x", "/DISCONNECT", "*me"]
EXPECTED_STDOUT = b"Disconnect me OK\r\n"
EXPECTED_EXIT = 2
# Without the libraries: the first line is the program's, the error text
# after it Wine's own.
MISSING_STDOUT_START = b"Disconnect me Not OK\r\n"
MISSING_STDOUT_END = b" [126]\r\n"
MISSING_EXIT = 1


def run(command, env, cwd):
    with tempfile.TemporaryFile() as out:
        code = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.DEVNULL, timeout=120).returncode
        out.seek(0)
        return code, out.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, type=pathlib.Path)
    parser.add_argument("--planted", required=True, type=pathlib.Path,
                        help="folder with the planted libraries and bare_name_probe.exe")
    parser.add_argument("--wine-prefix", required=True)
    options = parser.parse_args()

    results = []
    with tempfile.TemporaryDirectory(prefix="quillmarsh-planted-") as folder:
        scratch = pathlib.Path(folder)
        app = scratch / "app"
        markers = scratch / "markers"
        app.mkdir()
        markers.mkdir()
        for name in (*LIBRARIES, "bare_name_probe.exe"):
            shutil.copy(options.planted / name, app / name)
        shutil.copy(options.program, app / "quillmarsh.exe")

        env = dict(os.environ)
        env.pop("QUILLMARSH_SERVER", None)
        env.pop("QUILLMARSH_JOURNAL", None)
        env["WINEPREFIX"] = str(pathlib.Path(options.wine_prefix).resolve())
        env["WINEDEBUG"] = "-all"
        env["WINEDLLOVERRIDES"] = "wtsapi32,netapi32=n,b"
        env["QUILLMARSH_PLANTED_MARKERS"] = subprocess.run(
            ["winepath", "-w", str(markers)], env=env, capture_output=True, text=True,
            check=True).stdout.strip()

        def loaded():
            return sorted(marker.name.removesuffix(".loaded") for marker in markers.iterdir())

        for name in LIBRARIES:
            code, _ = run(["wine", str(app / "bare_name_probe.exe"), name], env, app)
            results.append((f"a load of {name} by bare name takes the planted copy",
                            code == 0 and loaded() == [name]))
            for marker in markers.iterdir():
                marker.unlink()

        code, out = run(["wine", str(app / "quillmarsh.exe"), *ARGUMENTS], env, app)
        results.append((f"quillmarsh.exe {' '.join(ARGUMENTS)}: {out!r}, exit code {code}",
                        out == EXPECTED_STDOUT and code == EXPECTED_EXIT))
        planted = loaded()
        results.append(("no planted library loaded" + (": " + ", ".join(planted)
                                                        if planted else ""), not planted))

        env["WINEDLLOVERRIDES"] = "wtsapi32,netapi32="
        code, out = run(["wine", str(app / "quillmarsh.exe"), "/DISCONNECT", "*me"], env, app)
        results.append((f"without wtsapi32 and netapi32: {out!r}, exit code {code}",
                        out.startswith(MISSING_STDOUT_START) and out.endswith(MISSING_STDOUT_END)
                        and code == MISSING_EXIT))

    for label, ok in results:
        print(f"{'ok  ' if ok else 'FAIL'} {label}")
    failed = sum(not ok for _, ok in results)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
