#!/usr/bin/env python3
"""Runs the end-to-end cases against a built program.

Each file in the cases folder holds a JSON list of cases:

  name         what the case shows
  args         the arguments after the program name
  server       the server description (an object), the name of a file in
               examples/ (a string), or null for a machine without Terminal
               Services; absent means {}
  server_changes  keys that replace the server description's own (optional),
               e.g. own_session 1 on an example server, the session that
               Wine reports for quillmarsh.exe
  stdout       the expected console lines (each ends in CR LF), or
  stdout_file  a file in the cases folder holding them, one per line
  exit         the expected exit code
  journal      the expected journal entries, in order (optional)
  log          the expected lines of the log file, in order (optional);
               time stamps read {T}, the process id {PID}, the log's name {LOG},
               and {N} stands for any decimal number; null: no log file. The
               header must be valid, the last line must end at its offset, and
               each log-start line must name the offset it was written at
  runs         how many times to run the program in the same temporary
               directory before the log is read (default 1)
  stderr       a text that standard error must contain (optional)
  max_seconds  the longest the runs may take together (optional), for a case
               whose point is that the program does not wait; not checked under a
               --wrapper (valgrind lets a process end only when its threads'
               sleeps do)
  env          environment variables for the program, e.g. TZ (optional)
  changes_nothing  true: the journal (when no full one is given) holds no
               call that changes anything, as a rehearsal must
  simulated_only  why the case runs on the simulated server only (optional):
               it depends on the token, the shutdown call, the own-session
               start-up, the waits of /SLEEP or error texts, which the real
               quillmarsh.exe takes from Wine

In stdout, {TEMP} stands for the program's temporary-files directory and
{USER} for the account that runs it. With --wine-prefix the program is a
Windows executable run under Wine in that prefix; paths handed to it are
converted with winepath, and {TEMP} and {USER} are what Wine gives it. Its
command line is built from args by the program's own quoting rules and
started as written by run_command_line.exe, found beside the program; cases
with a double quote inside an argument are native_only. When that starter
itself fails (exit code 254 and its "run_command_line: " line on standard
error: the program never ran), the runner prints what it said and starts
it once more; a program that ran and failed is never run again.
Under Wine, quillmarsh.exe uses Wine's own wtsapi32.dll; with
--simulated-wtsapi32 it uses the test wtsapi32.dll installed in the prefix's
System32 folder, which answers from the same server description and journal
as quillmarsh-sim.exe, and the cases marked simulated_only are left out.
"""

import argparse
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

# The calls that change something on a server: a case with "changes_nothing"
# (and no full journal) fails when its journal holds one of them.
CHANGING_CALLS = {
    "WTSSendMessageW", "WTSDisconnectSession", "WTSLogoffSession", "AdjustTokenPrivileges",
    "ExitWindowsEx", "InitiateShutdownA", "InitiateShutdownW", "AbortSystemShutdownW",
    "Win32_TerminalServiceSetting.Put", "WTSTerminateProcess", "WTSConnectSessionW",
}

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
TIME_STAMP = re.compile(r"\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\.\d{3}")
SHORT_TIME = re.compile(r"\[UTC:\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\]")
PROCESS_ID = re.compile(r"\[PID:\d+\]")
BATCH_TIME = re.compile(r"(\|I\|CNTin1GO: \d+ )\d\d-\d\d-\d{4} \d\d:\d\d:\d\d$")
LOG_START = re.compile(r" Log Started: .* (\d+)$")
# The exit code of run_command_line.exe when it could not start the program.
STARTER_FAILED = 254


def log_matches(want, got):
    """Whether the masked log lines `got` are the lines `want`, where {N} in
    a wanted line stands for any decimal number."""
    if want is None or got is None:
        return want == got
    if len(want) != len(got):
        return False
    for wanted, line in zip(want, got):
        pattern = "\\d+".join(re.escape(part) for part in wanted.split("{N}"))
        if not re.fullmatch(pattern, line):
            return False
    return True


class Host:
    """How to run the program natively: paths and directories as they are."""

    def __init__(self, program, wrapper=()):
        # Absolute: the program runs in each case's scratch folder.
        self.program = str(pathlib.Path(program).resolve())
        self.wrapper = list(wrapper)

    def environment(self, scratch):
        env = dict(os.environ)
        env["TMPDIR"] = str(scratch)
        return env

    def path(self, unix_path):
        return str(unix_path)

    def command(self, arguments, env):
        return self.wrapper + [self.program] + arguments

    def temp_directory(self, scratch):
        return str(scratch) + "/", pathlib.Path(scratch)

    def starter_failure(self, code, err):
        """What the starter said when it failed before the program ran, or
        None: natively there is no starter."""
        return None

    def account(self):
        import pwd

        return pwd.getpwuid(os.geteuid()).pw_name


class WineHost(Host):
    """The Windows program under Wine, in its own prefix.

    Wine hands the program the prefix's own temporary directory whatever the
    Unix environment says, and the Unix account as the Windows account.
    """

    def __init__(self, program, prefix, wtsapi32="b"):
        super().__init__(program)
        self.prefix = str(pathlib.Path(prefix).resolve())
        # Which wtsapi32.dll: "b" Wine's own, "n" the one in System32.
        self.wtsapi32 = wtsapi32
        self._temp = None
        self._folders = {}
        self.path(pathlib.Path(tempfile.gettempdir()) / "scratch")

    def environment(self, scratch):
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = "-all"
        env["WINEDLLOVERRIDES"] = "wtsapi32=" + self.wtsapi32
        return env

    def _wine(self, arguments):
        code, out, err = run(arguments, self.environment(None))
        if code != 0:
            # winepath now and then fails once, silently, on a busy machine.
            time.sleep(1)
            code, out, err = run(arguments, self.environment(None))
        if code != 0:
            raise RuntimeError(f"{arguments} failed with {code}: {err!r}")
        return out.decode().strip()

    def path(self, unix_path):
        # winepath costs a Wine start: convert a folder once and build the
        # names below it from that.
        unix_path = pathlib.Path(unix_path)
        for folder in unix_path.parents:
            if folder in self._folders:
                parts = unix_path.relative_to(folder).parts
                return "\\".join([self._folders[folder], *parts])
        converted = self._wine(["winepath", "-w", str(unix_path.parent)])
        self._folders[unix_path.parent] = converted.rstrip("\\")
        return self.path(unix_path)

    def command(self, arguments, env):
        # `wine program args...` would join the arguments by the C runtime's
        # rules (\" for a quote, doubled backslashes before one); the
        # program splits its line by its own. The line is built here and
        # started as written.
        line = windows_command_line([self.path(self.program)] + arguments)
        env["QUILLMARSH_COMMAND_LINE"] = line.encode("utf-8").hex()
        return ["wine", str(pathlib.Path(self.program).parent / "run_command_line.exe")]

    def starter_failure(self, code, err):
        # run_command_line.exe names itself on every failure of its own.
        text = err.decode("utf-8", errors="replace")
        if code == STARTER_FAILED and text.startswith("run_command_line: "):
            return text.strip()
        return None

    def temp_directory(self, scratch):
        if self._temp is None:
            shown = self._wine(["wine", "cmd", "/c", "echo", "%TEMP%"])
            unix = self._wine(["winepath", "-u", shown])
            self._temp = (shown.rstrip("\\") + "\\", pathlib.Path(unix))
        return self._temp


def windows_command_line(arguments):
    """The command line that the Windows program splits into `arguments`: an
    argument that is empty or holds a character up to 0x20 is quoted whole.
    There is no escape, so an argument with a double quote cannot be passed."""
    parts = []
    for argument in arguments:
        if '"' in argument:
            raise ValueError(f"a double quote cannot be passed on Windows: {argument!r}")
        if argument == "" or any(ord(c) <= 0x20 for c in argument):
            argument = f'"{argument}"'
        parts.append(argument)
    return " ".join(parts)


def run(arguments, env, cwd=None, timeout=300):
    """Runs a program; returns its exit code, standard output and error.

    The output goes through files, not pipes: a program that starts Wine's
    background services would hand them the pipes, which then never close.
    """
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(
            arguments, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
            timeout=timeout
        ).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read()


def read_log(directory):
    log_file = directory / "quillmarsh.utf8.log"
    if not log_file.exists():
        return None
    data = log_file.read_bytes()
    if len(data) > 200 * 1024:
        raise AssertionError(f"log file of {len(data)} bytes is beyond 200 KB")
    if data[:3] != b"\xef\xbb\xbf" or data[14:16] != b"\r\n":
        raise AssertionError(f"log header is not valid: {data[:16]!r}")
    offset = int(data[3:14].decode("ascii").strip())
    body = data[16:offset]
    if body and not body.endswith(b"\r\n"):
        raise AssertionError("the log does not end in a whole line at its offset")
    masked = []
    position = 16
    for raw in body.split(b"\r\n")[:-1] if body else []:
        line = raw.decode("utf-8", errors="replace")
        start = LOG_START.search(line)
        if start and int(start.group(1)) != position:
            raise AssertionError(f"log-start line at offset {position} names {start.group(1)}")
        position += len(raw) + 2
        line = TIME_STAMP.sub("{T}", line, count=1)
        line = SHORT_TIME.sub("[UTC:{T}]", line)
        line = PROCESS_ID.sub("[PID:{PID}]", line)
        line = BATCH_TIME.sub(r"\1{T}", line)
        masked.append(line)
    return masked


def server_argument(case, scratch):
    server = case.get("server", {})
    if server is None:
        return None
    changes = case.get("server_changes")
    if isinstance(server, str):
        example = REPOSITORY / "examples" / server
        if changes is None:
            return example
        server = json.loads(example.read_text(encoding="utf-8"))
    server = {**server, **(changes or {})}
    path = scratch / "server.json"
    path.write_text(json.dumps(server), encoding="utf-8")
    return path


def expected_stdout(case, cases_folder, temp_shown, account):
    if "stdout_file" in case:
        text = (cases_folder / case["stdout_file"]).read_text(encoding="utf-8")
        lines = text.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
    else:
        lines = case.get("stdout", [])
    text = "".join(line + "\r\n" for line in lines)
    return text.replace("{TEMP}", temp_shown).replace("{USER}", account)


def run_started(host, arguments, env, cwd, notes, failures):
    """Runs the program once; a start that failed in the starter itself,
    before the program ran, is reported and tried once more."""
    code, out, err = run(host.command(arguments, env), env, cwd=cwd)
    said = host.starter_failure(code, err)
    if said is None:
        return code, out, err
    notes.append(f"run_command_line.exe failed before the program ran ({said}); starting it once more")
    code, out, err = run(host.command(arguments, env), env, cwd=cwd)
    said = host.starter_failure(code, err)
    if said is not None:
        failures.append(f"run_command_line.exe failed again before the program ran ({said})")
    return code, out, err


def run_case(host, case, cases_folder):
    """Returns the case's failures and the notes on its starts."""
    failures = []
    notes = []
    with tempfile.TemporaryDirectory(prefix="quillmarsh-e2e-") as folder:
        scratch = pathlib.Path(folder)
        env = host.environment(scratch)
        env.update(case.get("env", {}))
        server = server_argument(case, scratch)
        if server is not None:
            env["QUILLMARSH_SERVER"] = host.path(server)
        else:
            env.pop("QUILLMARSH_SERVER", None)
        journal = scratch / "journal.jsonl"
        env["QUILLMARSH_JOURNAL"] = host.path(journal)
        temp_shown, temp_unix = host.temp_directory(scratch)
        if "log" in case:
            (temp_unix / "quillmarsh.utf8.log").unlink(missing_ok=True)

        started = time.monotonic()
        for _ in range(case.get("runs", 1)):
            code, out, err = run_started(host, case["args"], env, scratch, notes, failures)
        took = time.monotonic() - started
        if took > case.get("max_seconds", float("inf")) and not getattr(host, "wrapper", None):
            failures.append(f"took {took:.1f} s, more than {case['max_seconds']} s")
        want_out = expected_stdout(case, cases_folder, temp_shown, host.account())
        got_out = out.decode("utf-8", errors="replace")
        if got_out != want_out:
            failures.append(f"stdout differs:\n--- want\n{want_out!r}\n--- got\n{got_out!r}")
        if code != case.get("exit", 0):
            failures.append(f"exit code {code}, want {case.get('exit', 0)}; stderr: {err!r}")
        if "stderr" in case and case["stderr"] not in err.decode(errors="replace"):
            failures.append(f"stderr lacks {case['stderr']!r}: {err!r}")
        if "journal" in case:
            entries = []
            if journal.exists():
                entries = [json.loads(line)
                           for line in journal.read_text(encoding="utf-8").splitlines()]
            if entries != case["journal"]:
                failures.append(
                    "journal differs:\n--- want\n"
                    + "\n".join(json.dumps(e) for e in case["journal"])
                    + "\n--- got\n"
                    + "\n".join(json.dumps(e) for e in entries)
                )
        elif journal.exists():
            for line in journal.read_text(encoding="utf-8").splitlines():
                call = json.loads(line)["call"]
                if call == "leak":
                    failures.append("the journal ends with a leak entry")
                if case.get("changes_nothing") and call in CHANGING_CALLS:
                    failures.append(f"a rehearsal made the changing call {call}")
        if "log" in case:
            try:
                got_log = read_log(temp_unix)
            except AssertionError as error:
                got_log = [f"(unreadable log: {error})"]
            want_log = case["log"]
            if want_log is not None:
                want_log = [line.replace("{LOG}", temp_shown + "quillmarsh.utf8.log")
                            for line in want_log]
            if not log_matches(want_log, got_log):
                failures.append(
                    "log differs:\n--- want\n" + "\n".join(want_log or ["(no log)"])
                    + "\n--- got\n" + "\n".join(got_log or ["(no log)"])
                )
            (temp_unix / "quillmarsh.utf8.log").unlink(missing_ok=True)
    return failures, notes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--cases", required=True, type=pathlib.Path)
    parser.add_argument("--wine-prefix", help="run the program under Wine in this prefix")
    parser.add_argument("--simulated-wtsapi32", action="store_true",
                        help="quillmarsh.exe under Wine over the test wtsapi32.dll in System32")
    parser.add_argument("--filter", default="", help="only cases whose name contains this")
    parser.add_argument("--wrapper", default="",
                        help="a command to run the program under, e.g. valgrind and its options")
    options = parser.parse_args()
    if options.simulated_wtsapi32 and not options.wine_prefix:
        parser.error("--simulated-wtsapi32 needs --wine-prefix")

    if options.wine_prefix:
        host = WineHost(options.program, options.wine_prefix,
                        "n" if options.simulated_wtsapi32 else "b")
    else:
        host = Host(options.program, options.wrapper.split())
    passed = failed = 0
    for case_file in sorted(options.cases.glob("*.json")):
        for case in json.loads(case_file.read_text(encoding="utf-8")):
            if options.filter not in case["name"]:
                continue
            if options.wine_prefix and case.get("native_only"):
                continue
            if options.simulated_wtsapi32 and case.get("simulated_only"):
                continue
            failures, notes = run_case(host, case, options.cases)
            label = f"{case_file.stem}: {case['name']}"
            for note in notes:
                print(f"note {label}: {note}")
            if failures:
                failed += 1
                print(f"FAIL {label}")
                for failure in failures:
                    print("  " + failure.replace("\n", "\n  "))
            else:
                passed += 1
                print(f"ok   {label}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
