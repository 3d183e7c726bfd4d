#!/usr/bin/env python3
"""Fault tests of the whole program: killed runs, runs ended by a signal,
concurrent runs, a temporary directory that cannot hold the log, planted links, hostile arguments and a
very large server.

  tests/faults/run_faults.py --program build/native/quillmarsh
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

MAX_LOG = 200 * 1024
BANNER = (
    "-" * 54 + "\r\n" + "Terminal Server commandline tool :: version 2.2.174.19\r\n"
    + "-" * 54 + "\r\n\r\n"
)
WRONG = (BANNER + "Wrong or unknown command. Type /?  for information\r\n").encode()


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Context:
    def __init__(self, program, folder):
        self.program = program
        self.folder = pathlib.Path(folder)
        self.temp = self.folder / "temp"
        self.temp.mkdir()
        self.log = self.temp / "quillmarsh.utf8.log"

    def server(self, description, name="server.json"):
        path = self.folder / name
        path.write_text(json.dumps(description), encoding="utf-8")
        return path

    def env(self, server=None, temp=None):
        env = dict(os.environ)
        env["TMPDIR"] = str(temp or self.temp)
        env.pop("QUILLMARSH_JOURNAL", None)
        if server is not None:
            env["QUILLMARSH_SERVER"] = str(server)
        else:
            env.pop("QUILLMARSH_SERVER", None)
        return env

    def run(self, arguments, server=None, temp=None, timeout=120):
        return subprocess.run(
            [self.program] + arguments, env=self.env(server, temp),
            capture_output=True, timeout=timeout,
        )

    def start(self, arguments, server=None, ignored=None):
        return subprocess.Popen(
            [self.program] + arguments, env=self.env(server),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            preexec_fn=None if ignored is None else lambda: signal.signal(ignored, signal.SIG_IGN),
        )


def log_lines(path):
    """The lines of a ring file up to its header offset, after checking it."""
    data = path.read_bytes()
    check(len(data) <= MAX_LOG, f"log of {len(data)} bytes is beyond 200 KB")
    check(data[:3] == b"\xef\xbb\xbf" and data[14:16] == b"\r\n", f"bad header {data[:16]!r}")
    digits = data[3:14].decode("ascii")
    check(digits.lstrip(" ").isdigit(), f"bad offset field {digits!r}")
    offset = int(digits)
    check(16 <= offset <= len(data), f"offset {offset} outside the file")
    body = data[16:offset]
    check(body.endswith(b"\r\n"), "the offset does not follow a whole line")
    return body.decode("utf-8").split("\r\n")[:-1], offset


def started_lines(lines):
    return [line for line in lines if " Log Started: " in line]


def test_killed_during_sleep_then_next_run_appends(ctx):
    server = ctx.server({"own_session": 3})
    process = ctx.start(["/LOGFILE", "/NOTME", "/SLEEP", "30"], server)
    time.sleep(1.5)
    process.send_signal(signal.SIGKILL)
    process.wait()
    lines, offset = log_lines(ctx.log)
    check(lines[-1].endswith("|I|.Sleep: 30"), f"last line before the kill: {lines[-1]!r}")
    result = ctx.run(["/LOGFILE", "/NOTME"], server)
    check(result.returncode == 0, "the next run failed")
    after, _ = log_lines(ctx.log)
    check(after[: len(lines)] == lines, "the killed run's lines were changed")
    new = after[len(lines):]
    check(new[0].endswith(f"[Session:3] {offset}"), f"next run did not start at {offset}: {new[0]!r}")
    check(new[-1].endswith(" Log stopped"), "next run did not close its log")


def start_sleeping(ctx, seconds, server, ignored=None):
    """A logging run of /SLEEP, once its first dot has been printed."""
    process = ctx.start(["/LOGFILE", "/NOTME", "/SLEEP", str(seconds)], server, ignored)
    expected = f"Sleep: {seconds}\r\n.".encode()
    check(process.stdout.read(len(expected)) == expected, "the sleep did not start")
    return process


def this_runs_lines(ctx, earlier, process):
    """The lines that `process` added after the `earlier` lines, time stamps cut."""
    lines, offset = log_lines(ctx.log)
    check(ctx.log.stat().st_size == offset, "text after the header's offset")
    check(lines[: len(earlier)] == earlier, "earlier lines were changed")
    new = lines[len(earlier):]
    start = 16 + sum(len(line.encode()) + 2 for line in earlier)
    check(len(new) > 0 and f"[PID:{process.pid}]" in new[0] and new[0].endswith(f"] {start}"),
          f"this run did not log from offset {start}: {new[:1]!r}")
    return lines, [line[23:] for line in new[1:]]


def test_signal_during_sleep_closes_the_log_then_ends_the_run(ctx):
    server = ctx.server({"own_session": 3})
    check(ctx.run(["/LOGFILE", "/NOTME"], server).returncode == 0, "the first run failed")
    lines, _ = log_lines(ctx.log)
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        process = start_sleeping(ctx, 30, server)
        process.send_signal(number)
        process.communicate(timeout=10)
        check(process.returncode == -number,
              f"{number.name}: exit status {process.returncode}, not the signal's")
        lines, new = this_runs_lines(ctx, lines, process)
        check(new[:4] == ["|I|not applying session: #3", "|I|Begin Sleep", "|I|.Sleep: 30",
                          "|I|Wait(mSec): 0"], f"{number.name}: lines {new!r}")
        check(len(new) == 6 and new[4].startswith("|I|CNTin1GO: ") and new[5] == " Log stopped",
              f"{number.name}: the log was not closed: {new!r}")


def test_ignored_hangup_stays_ignored(ctx):
    server = ctx.server({"own_session": 3})
    process = start_sleeping(ctx, 2, server, ignored=signal.SIGHUP)
    process.send_signal(signal.SIGHUP)
    out, _ = process.communicate(timeout=10)
    check(process.returncode == 0 and out == b".\r\n", f"{process.returncode} {out!r}")
    _, new = this_runs_lines(ctx, [], process)
    check(new[-4:-2] == ["|I|End Sleep", "|I|Wait(mSec): 0"], f"lines {new!r}")


def test_two_runs_at_once_one_logs(ctx):
    server = ctx.server({"own_session": 3})
    first = ctx.start(["/LOGFILE", "/NOTME", "/SLEEP", "2"], server)
    time.sleep(0.3)
    second = ctx.start(["/LOGFILE", "/NOTME", "/SLEEP", "1"], server)
    outputs = [p.communicate(timeout=30) for p in (first, second)]
    check(first.returncode == 0 and second.returncode == 0, "a run failed")
    check(outputs[0][0] == b"Sleep: 2\r\n..\r\n", f"first output {outputs[0][0]!r}")
    check(outputs[1][0] == b"Sleep: 1\r\n.\r\n", f"second output {outputs[1][0]!r}")
    lines, _ = log_lines(ctx.log)
    check(len(started_lines(lines)) == 1, f"{len(started_lines(lines))} runs logged, want 1")
    check(lines[-1].endswith(" Log stopped"), "the logging run did not close its log")


def same_as_without_log(ctx, temp):
    server = ctx.server({"own_session": 1, "sessions": [
        {"id": 1, "state": "Active", "user": "alice"}]})
    plain = ctx.run(["/LISTALLSESSIONS", "/STATUS", "alice"], server, temp)
    logged = ctx.run(["/LISTALLSESSIONS", "/LOGFILE", "/STATUS", "alice"], server, temp)
    check(plain.returncode == logged.returncode == 4, "exit codes differ")
    check(plain.stdout == logged.stdout, "output differs with /LOGFILE")
    # Standard error alone says why the log is missing.
    said = logged.stderr.decode(errors="replace")
    check(plain.stderr == b"" and said.startswith("quillmarsh: the log file cannot be opened: ")
          and "quillmarsh.utf8.log: " in said
          and said.endswith("]; running without a log\r\n") and said.count("\n") == 1,
          f"unexpected standard error {logged.stderr!r}")


def test_temp_directory_that_cannot_be_created(ctx):
    same_as_without_log(ctx, "/proc/no-such-directory/temp")


def test_temp_directory_that_cannot_be_written(ctx):
    same_as_without_log(ctx, "/proc/self")


def test_temp_directory_that_is_a_file(ctx):
    plain_file = ctx.folder / "plain-file"
    plain_file.write_text("not a directory")
    same_as_without_log(ctx, plain_file)
    check(plain_file.read_text() == "not a directory", "the file was changed")


def test_missing_temp_directory_is_created(ctx):
    temp = ctx.folder / "missing" / "temp"
    result = ctx.run(["/LOGFILE", "/NOTME"], temp=temp)
    check(result.returncode == 0, "the run failed")
    lines, _ = log_lines(temp / "quillmarsh.utf8.log")
    check(lines[-1].endswith(" Log stopped"), "no log in the created directory")


def test_planted_link_is_never_followed(ctx):
    target = ctx.folder / "victim"
    target.write_bytes(b"precious")
    ctx.log.symlink_to(target)
    same_as_without_log(ctx, ctx.temp)
    check(target.read_bytes() == b"precious", "the link's target was written")
    check(ctx.log.is_symlink(), "the link was replaced")


def test_long_arguments(ctx):
    # Linux takes at most 128 KiB in one argument: 1 MiB in eight of them.
    big = "x" * (128 * 1024 - 1)
    server = ctx.server({"sessions": [{"id": 1, "state": "Active", "user": "alice"}]})
    result = ctx.run(["/LOGFILE", "/MESSAGE", "*ALL", big] + ["/STATUS", big] * 3
                     + ["/MESSAGE", big, big, "/DISCONNECT", big], server)
    check(result.returncode == 2, f"exit code {result.returncode}")
    check(result.stdout == b"Message OK: \\alice\r\n", f"output {result.stdout[:80]!r}")
    # Over 1 MiB of log lines went round the 200 KB ring several times.
    lines, _ = log_lines(ctx.log)
    check(lines[-1].endswith(" Log stopped"), "the log did not close")
    check(all(len(line) <= 23 + 3 + 10 + 220 for line in lines), "a line is longer than 220")


def test_ten_thousand_arguments(ctx):
    result = ctx.run(["/NOTME"] * 100 + ["/unknown"] * 9900)
    check(result.returncode == 0 and result.stdout == b"", "more than 100 passes were made")
    result = ctx.run(["/NOTME"] * 99 + ["/unknown"] * 9901)
    check(result.stdout == WRONG, "the 100th pass did not run")


def test_empty_and_control_character_arguments(ctx):
    server = ctx.server({"sessions": [{"id": 1, "state": "Active", "user": "alice"}]})
    for arguments in (["", "/NOTME"], ["\x01\x02\x7f"], ["/SLEEP", "\t"], ["/STATUS", "", "\n"]):
        result = ctx.run(arguments, server)
        check(result.stdout == WRONG and result.returncode == 0,
              f"{arguments!r}: {result.stdout!r} {result.returncode}")
    result = ctx.run(["/STATUS", "\x01alice\x1f", "/MESSAGE", "*all", "\x1b[2J\x07"], server)
    check(result.stdout == b"Message OK: \\alice\r\n" and result.returncode == 2,
          f"control characters: {result.stdout!r} {result.returncode}")


def test_hundred_thousand_sessions(ctx):
    sessions = [{"id": i, "state": "Active" if i % 2 else "Listen", "user": f"u{i}"}
                for i in range(100000)]
    server = ctx.server({"sessions": sessions})
    result = ctx.run(["/LISTALLSESSIONS", "/STATUS", "u99999"], server)
    check(result.returncode == 4, f"exit code {result.returncode}")
    lines = result.stdout.split(b"\r\n")[:-1]
    check(len(lines) == 100000, f"{len(lines)} lines")
    check(lines[-1].startswith(b"\\u99999 "), f"last line {lines[-1]!r}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    options = parser.parse_args()
    program = str(pathlib.Path(options.program).resolve())
    tests = [(name, value) for name, value in globals().items() if name.startswith("test_")]
    passed = failed = 0
    for name, test in tests:
        with tempfile.TemporaryDirectory(prefix="quillmarsh-faults-") as folder:
            try:
                test(Context(program, folder))
                passed += 1
                print(f"ok   {name}")
            except (Failure, subprocess.TimeoutExpired, OSError, ValueError) as error:
                failed += 1
                print(f"FAIL {name}: {error}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
