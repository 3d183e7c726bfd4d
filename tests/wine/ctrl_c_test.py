#!/usr/bin/env python3
"""Ctrl+C closes the log before the Windows program ends, under Wine.

Wine hands a SIGINT of a Windows process to its console control handlers as
a Ctrl+C event (SIGTERM and SIGHUP end the process at once, without any
event). Each program runs "/LOGFILE /NOTME /SLEEP 30" and gets a SIGINT after
its first dot: the log must then end with the run's closing lines, at the
header's offset, with nothing after them.

  tests/wine/ctrl_c_test.py --wine-prefix PREFIX quillmarsh-sim.exe quillmarsh.exe

Prints one line per program and "N passed, N failed"; exits 1 on a failure.
"""

import argparse
import json
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "faults"))
from run_faults import Failure, check, log_lines  # noqa: E402


def wine_output(arguments, env):
    with tempfile.TemporaryFile() as out:
        subprocess.run(arguments, env=env, stdout=out, stdin=subprocess.DEVNULL, check=True)
        out.seek(0)
        return out.read().decode().strip()


def check_ctrl_c(program, env, log, folder):
    if log.exists():
        log.unlink()
    # The output goes to a file: Wine's background services would keep a pipe open.
    output = folder / "output.txt"
    with open(output, "wb") as out:
        process = subprocess.Popen(["wine", program, "/LOGFILE", "/NOTME", "/SLEEP", "30"],
                                   env=env, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while b"Sleep: 30\r\n." not in output.read_bytes():
            check(time.monotonic() < deadline and process.poll() is None, "the sleep did not start")
            time.sleep(0.05)
        process.send_signal(signal.SIGINT)
        process.wait(timeout=20)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    check(output.read_bytes() == b"Sleep: 30\r\n.", f"output {output.read_bytes()!r}")
    lines, offset = log_lines(log)
    check(log.stat().st_size == offset, "text after the header's offset")
    tail = [line[23:] for line in lines[-4:]]
    check(len(lines) == 7 and tail[:2] == ["|I|.Sleep: 30", "|I|Wait(mSec): 0"]
          and tail[2].startswith("|I|CNTin1GO: ") and tail[3] == " Log stopped",
          f"the log was not closed: {lines!r}")
    log.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("programs", nargs="+")
    options = parser.parse_args()
    env = dict(os.environ, WINEPREFIX=str(pathlib.Path(options.wine_prefix).resolve()),
               WINEDEBUG="-all")
    temp = wine_output(["wine", "cmd", "/c", "echo", "%TEMP%"], env)
    log = pathlib.Path(wine_output(["winepath", "-u", temp], env)) / "quillmarsh.utf8.log"
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="quillmarsh-ctrl-c-") as name:
        folder = pathlib.Path(name)
        (folder / "server.json").write_text(json.dumps({"own_session": 1}))
        env["QUILLMARSH_SERVER"] = wine_output(["winepath", "-w", str(folder / "server.json")], env)
        for program in options.programs:
            try:
                check_ctrl_c(str(pathlib.Path(program).resolve()), env, log, folder)
                passed += 1
                print(f"ok   Ctrl+C closes the log of {pathlib.Path(program).name}")
            except (Failure, subprocess.TimeoutExpired, OSError, ValueError) as error:
                failed += 1
                print(f"FAIL Ctrl+C closes the log of {pathlib.Path(program).name}: {error}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
