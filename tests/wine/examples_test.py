#!/usr/bin/env python3
"""Runs the example batch files with Wine's cmd over the simulated server.

Each example runs in a scratch folder next to a copy of quillmarsh-sim.exe
named quillmarsh.exe, so the batch file finds it beside itself; the calls
it makes are read back from the simulated server's journal. The waits of
/SLEEP are journaled, not slept.

Prints one line per case and "N passed, N failed"; exits 1 on a failure.
"""

import argparse
import json
import os
import pathlib
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = REPOSITORY / "examples"


def demo_server(**changes):
    server = json.loads((EXAMPLES / "demo-server.json").read_text())
    server["virtual_sleep"] = True
    server.update(changes)
    return server


class Example:
    def __init__(self, simulated_program, prefix):
        self.simulated_program = simulated_program
        self.prefix = str(pathlib.Path(prefix).resolve())

    def windows_path(self, path):
        env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all")
        with tempfile.TemporaryFile() as out:
            subprocess.run(["winepath", "-w", str(path)], env=env, stdout=out, check=True,
                           stdin=subprocess.DEVNULL)
            out.seek(0)
            return out.read().decode().strip()

    def run(self, batch_file, arguments, server, text=None, examples=(), console_window=False,
            extra_files=None):
        """Returns the exit code, the console text and the journal entries.
        The batch file is the example of that name, or `text` when given,
        with copies of `examples` beside it. With `console_window`, cmd runs
        in a console (a pseudo-terminal), where chcp can change code pages."""
        with tempfile.TemporaryDirectory(prefix="quillmarsh-examples-") as folder:
            scratch = pathlib.Path(folder)
            for name in examples:
                shutil.copy(EXAMPLES / name, scratch / name)
            if text is None:
                shutil.copy(EXAMPLES / batch_file, scratch / batch_file)
            else:
                (scratch / batch_file).write_bytes(text.replace("\n", "\r\n").encode("ascii"))
            shutil.copy(self.simulated_program, scratch / "quillmarsh.exe")
            for name, content in (extra_files or {}).items():
                (scratch / name).write_text(content)
            scratch_windows = self.windows_path(scratch)
            env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all")
            env["QUILLMARSH_JOURNAL"] = scratch_windows + "\\journal.jsonl"
            if server is not None:
                (scratch / "server.json").write_text(json.dumps(server))
                env["QUILLMARSH_SERVER"] = scratch_windows + "\\server.json"
            else:
                env.pop("QUILLMARSH_SERVER", None)
            command = ["wine", "cmd", "/c", scratch_windows + "\\" + batch_file] + arguments
            if console_window:
                code, output = run_in_console(command, env, scratch)
            else:
                with tempfile.TemporaryFile() as out:
                    code = subprocess.run(command, env=env, cwd=scratch, stdout=out,
                                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                          timeout=300).returncode
                    out.seek(0)
                    output = out.read()
            console = output.decode("utf-8", errors="replace").replace("\r\n", "\n")
            journal_file = scratch / "journal.jsonl"
            journal = []
            if journal_file.exists():
                journal = [json.loads(line)
                           for line in journal_file.read_text(encoding="utf-8").splitlines()]
            files = {p.name: p.read_bytes() for p in scratch.iterdir() if p.suffix in (".txt", ".csv")}
            return code, console, journal, files


def run_in_console(command, env, cwd, timeout=300):
    """Runs `command` on a pseudo-terminal, which Wine turns into a console;
    returns the exit code and what it wrote, without terminal controls."""
    controller, terminal = pty.openpty()
    process = subprocess.Popen(command, env=env, cwd=cwd, stdin=terminal, stdout=terminal,
                               stderr=terminal)
    os.close(terminal)
    output = b""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if select.select([controller], [], [], 0.5)[0]:
            try:
                data = os.read(controller, 4096)
            except OSError:  # the terminal is gone with the last process
                break
            if not data:
                break
            output += data
        elif process.poll() is not None:
            break
    os.close(controller)
    code = process.wait(timeout=max(1, deadline - time.monotonic()))
    return code, re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", output).replace(b"\r\r\n", b"\r\n")


def slow_limit(name, old, new):
    """The text of the example `name` with `old` replaced by `new`: a
    "/SERVERTIMEOUT 1" put in front of a step, so that a slow server's answer
    to it is given up on."""
    text = (EXAMPLES / name).read_text()
    assert old in text, old
    return text.replace(old, new)


def calls(journal, name):
    return [entry for entry in journal if entry["call"] == name]


CHANGING_CALLS = {"WTSSendMessageW", "WTSDisconnectSession", "WTSLogoffSession",
                  "AdjustTokenPrivileges", "ExitWindowsEx", "InitiateShutdownA",
                  "InitiateShutdownW", "AbortSystemShutdownW", "WTSTerminateProcess",
                  "Win32_TerminalServiceSetting.Put"}


def changing_calls(journal):
    return [entry["call"] for entry in journal if entry["call"] in CHANGING_CALLS]


def on_servers(journal, call):
    """(server, session) of each `call`, the server named as /SERVER opened
    it: each run numbers its handles from 1, so the name of a call's server
    is that of the handle's latest opening."""
    handles = {}
    found = []
    for entry in journal:
        if entry["call"] == "WTSOpenServerA":
            handles[entry["handle"]] = entry["name"]
        if entry["call"] == call:
            found.append((handles.get(entry.get("server"), "."), entry.get("session")))
    return found


def check_nightly_reboot(example):
    code, console, journal, _ = example.run("nightly-reboot.cmd", [], demo_server())
    messages = calls(journal, "WTSSendMessageW")
    first = [m for m in messages if m["timeout"] == 600]
    last = [m for m in messages if m["timeout"] == 55]
    yield "warns every session twice", len(first) == 5 and len(last) == 5
    yield "the first warning names the minutes", \
        first and "restarts in about 15 minutes" in first[0]["message"]
    sleeps = len(calls(journal, "Sleep"))
    yield f"waits 15.5 minutes plus a spread below 5 minutes ({sleeps} s)", \
        840 + 60 + 30 <= sleeps < 840 + 300 + 60 + 30
    logoffs = [entry["session"] for entry in calls(journal, "WTSLogoffSession")]
    yield "logs off every session but its own", logoffs == [0, 1, 2, 4, 5, 7, 8]
    reboot = calls(journal, "ExitWindowsEx")
    yield "then reboots", reboot == [{"call": "ExitWindowsEx", "flags": 6,
                                      "reason": 2147614724, "ok": True}]
    yield "the reboot is the last call", journal and journal[-1]["call"] == "ExitWindowsEx"
    yield "prints the command word", "/REBOOT\n" in console

    quiet = demo_server(sessions=[{"id": 0, "station": "Services", "state": "Disconnected"},
                                  {"id": 65536, "station": "RDP-Tcp", "state": "Listen"}])
    code, console, journal, _ = example.run("nightly-reboot.cmd", [], quiet)
    yield "with nobody logged on it does not wait for anybody", \
        len(calls(journal, "Sleep")) == 30 and "Nobody is logged on" in console
    yield "and still reboots", len(calls(journal, "ExitWindowsEx")) == 1

    code, console, journal, _ = example.run("nightly-reboot.cmd", ["/WHATIF"], demo_server())
    yield "/WHATIF: no changing call, each step shown, the same waits", \
        not changing_calls(journal) and console.count("What if: Message ") == 10 \
        and console.count("What if: Logoff ") == 7 and "What if: /REBOOT on TS01\n" in console \
        and 840 + 60 + 30 <= len(calls(journal, "Sleep")) < 840 + 300 + 60 + 30


def check_logoff_disconnected(example):
    code, console, journal, _ = example.run("logoff-disconnected.cmd", [], demo_server())
    logoffs = [entry["session"] for entry in calls(journal, "WTSLogoffSession")]
    yield "logs off the disconnected sessions of users only, never its own", logoffs == [4, 8]
    yield "reports each logoff", \
        "Logoff OK: CORP\\bob\n" in console and "Logoff OK: CORP\\alice\n" in console
    yield "exit code 2", code == 2
    code, console, journal, _ = example.run("logoff-disconnected.cmd", ["/WHATIF"], demo_server())
    yield "/WHATIF: no changing call, each logoff shown, exit code 2", \
        not changing_calls(journal) and code == 2 \
        and "What if: Logoff CORP\\bob #4 on TS01\n" in console

    refused = demo_server()
    refused["sessions"][4]["logoff_error"] = 5
    code, console, journal, _ = example.run("logoff-disconnected.cmd", [], refused)
    yield "a refusal before a last success still gives exit code 1", \
        code == 1 and "Logoff Not OK: CORP\\bob\nAccess is denied [5]\n" in console

    services = demo_server()
    services["sessions"][0]["logoff_error"] = 5
    code, console, journal, _ = example.run("logoff-disconnected.cmd", [], services)
    yield "the session without a user is passed over", \
        code == 2 and [entry["session"] for entry in calls(journal, "WTSLogoffSession")] == [4, 8]

    code, console, journal, _ = example.run("logoff-disconnected.cmd", [], None)
    yield "nothing to do without Terminal Services", \
        code == 0 and not calls(journal, "WTSLogoffSession") and "No disconnected" in console

    # In a console, where chcp works: the code page the caller had comes back.
    # (Wine's cmd loses the exit code of a called batch file: not checked.)
    wrapper = '@echo off\nchcp 850 >nul\ncall "%~dp0logoff-disconnected.cmd"\nchcp\n'
    code, console, journal, _ = example.run("caller.cmd", [], demo_server(), text=wrapper,
                                            examples=["logoff-disconnected.cmd"],
                                            console_window=True)
    yield "in a console it puts the caller's code page back", \
        console.rstrip().endswith("Active code page: 850") \
        and [entry["session"] for entry in calls(journal, "WTSLogoffSession")] == [4, 8]

    # The program picks the sessions itself: a name outside ASCII is logged
    # off like any other, whatever code page cmd reads the output in.
    with_juergen = demo_server()
    with_juergen["sessions"].append({"id": 9, "station": "RDP-Tcp#9", "state": "Disconnected",
                                     "user": "j\u00fcrgen", "domain": "CORP"})
    code, console, journal, _ = example.run("logoff-disconnected.cmd", [], with_juergen)
    logoffs = [entry["session"] for entry in calls(journal, "WTSLogoffSession")]
    yield "a disconnected non-ASCII user is logged off too", \
        code == 2 and logoffs == [4, 8, 9] and "Logoff OK: CORP\\bob" in console


def farm(**changes):
    """A management machine and two of three farm servers; ts03 never answers."""
    server = {
        "own_session": 2,
        "sessions": [{"id": 2, "state": "Active", "user": "admin", "domain": "CORP"}],
        "virtual_sleep": True,
        "servers": {
            "TS01": {"sessions": [
                {"id": 0, "station": "Services", "state": "Disconnected"},
                {"id": 3, "state": "Active", "user": "alice", "domain": "CORP"},
                {"id": 4, "state": "Disconnected", "user": "bob", "domain": "CORP"},
                {"id": 65536, "station": "RDP-Tcp", "state": "Listen"}]},
            "TS02": {"sessions": [
                {"id": 2, "state": "Active", "user": "carol", "domain": "CORP"},
                {"id": 65536, "station": "RDP-Tcp", "state": "Listen"}]},
        },
    }
    for name, change in changes.items():
        server["servers"][name].update(change)
    return server


def check_farm_nightly_reboot(example):
    code, console, journal, _ = example.run("farm-nightly-reboot.cmd", ["TS01", "TS02", "ts03"],
                                            farm())
    named = []
    handles = {}
    for entry in journal:
        if entry["call"] == "WTSOpenServerA":
            handles[entry["handle"]] = entry["name"]
        if "server" in entry:
            named.append(dict(entry, server=handles.get(entry["server"], ".")))

    def on(call):
        return [(entry["server"], entry["session"]) for entry in named if entry["call"] == call]

    first = [m for m in named if m["call"] == "WTSSendMessageW" and m["timeout"] == 600]
    last = [m for m in named if m["call"] == "WTSSendMessageW" and m["timeout"] == 55]
    yield "warns every session of the servers that answer, twice", \
        [(m["server"], m["session"]) for m in first] == [("TS01", 3), ("TS02", 2)] \
        and [(m["server"], m["session"]) for m in last] == [("TS01", 3), ("TS02", 2)]
    yield "reports the server that does not answer and leaves it out", \
        "ts03: does not answer, left out: The RPC server is unavailable [1722]\n" in console \
        and not [e for e in journal if e.get("name") == "ts03" or e.get("machine") == "ts03"][1:]
    sleeps = len(calls(journal, "Sleep"))
    yield f"waits 15.5 minutes plus a spread below 5 minutes ({sleeps} s)", \
        840 + 60 + 30 <= sleeps < 840 + 300 + 60 + 30
    yield "logs off every session of each server, the one with the local own id too", \
        on("WTSLogoffSession") == [("TS01", 0), ("TS01", 3), ("TS01", 4), ("TS02", 2)]
    yield "restarts each server that answered, and never the local machine", \
        calls(journal, "InitiateShutdownA") == [
            {"call": "InitiateShutdownA", "machine": name, "grace": 0, "flags": 7,
             "reason": 2147614724, "ok": True} for name in ("TS01", "TS02")] \
        and not calls(journal, "ExitWindowsEx")
    yield "closes every handle", \
        len(calls(journal, "WTSCloseServer")) == len(calls(journal, "WTSOpenServerA")) \
        and not calls(journal, "leak")
    yield "reports each restart", "TS01: restarting." in console and "TS02: restarting." in console
    yield "exit code 4 for the server that was not reached", code == 4

    code, console, journal, _ = example.run("farm-nightly-reboot.cmd", ["TS01", "TS02"],
                                            farm(TS01={"shutdown_error": 5}))
    yield "a refused restart is reported, the next server still restarts, exit code 1", \
        "TS01: the restart was refused: Access is denied [5]" in console \
        and [e["ok"] for e in calls(journal, "InitiateShutdownA")] == [False, True] and code == 1
    code, console, journal, _ = example.run("farm-nightly-reboot.cmd", ["TS01", "TS02"], farm())
    yield "exit code 0 when every server restarts", code == 0
    code, console, journal, _ = example.run("farm-nightly-reboot.cmd", ["TS01", "TS02"],
                                            farm(TS02={"enumerate_error": 5}))
    yield "a server that refuses this account is told from one that does not answer, exit code 5", \
        "TS02: refused this account, left out: Access is denied [5]\n" in console \
        and on_servers(journal, "WTSLogoffSession") == [("TS01", 0), ("TS01", 3), ("TS01", 4)] \
        and [e["machine"] for e in calls(journal, "InitiateShutdownA")] == ["TS01"] and code == 5
    code, console, journal, _ = example.run("farm-nightly-reboot.cmd", [], farm())
    yield "no server: usage and exit code 2", code == 2 and "Usage:" in console and not journal
    code, console, journal, _ = example.run("farm-nightly-reboot.cmd", ["TS01", "/REBOOT"], farm())
    yield "a server name that begins with \"/\": usage and exit code 2, nothing asked", \
        code == 2 and "Usage:" in console and not journal
    code, console, journal, _ = example.run("farm-nightly-reboot.cmd", ["TS01", "/WHATIF", "ts03"],
                                            farm())
    yield "/WHATIF anywhere: no changing call, each step shown, the dead server still reported", \
        not changing_calls(journal) and console.count("What if: Message CORP\\alice #3 on TS01\n") \
        == 2 and console.count("What if: Logoff ") == 3 and "What if: /REBOOT on TS01\n" in console \
        and "TS01: would restart.\n" in console and "TS01: restarting." not in console \
        and "ts03: does not answer" in console and code == 4


def check_farm_maintenance(example):
    text = "This server restarts in 30 minutes for maintenance. Please save your work and log off."
    code, console, journal, _ = example.run("farm-maintenance.cmd",
                                            ["restart", "30", "TS01", "TS02", "ts03"], farm())
    yield "asks each server for a restart in 30 minutes with the text, then warns its sessions", \
        [(e["machine"], e["message"], e["grace"], e["ok"])
         for e in calls(journal, "InitiateShutdownW") if e["machine"] != "ts03"] == \
        [("TS01", text, 1800, True), ("TS02", text, 1800, True)] \
        and [(e["call"], e.get("machine") or e.get("message")) for e in journal
             if e["call"] in ("InitiateShutdownW", "WTSSendMessageW")][:4] == \
        [("InitiateShutdownW", "TS01"), ("WTSSendMessageW", text),
         ("InitiateShutdownW", "TS02"), ("WTSSendMessageW", text)]
    yield "reports each server, the one not reached with its reason, and exit code 4", \
        "TS01: restarts in 30 minutes." in console and "TS02: restarts in 30 minutes." in console \
        and "ts03: does not answer: The RPC server is unavailable [1722]" in console \
        and on_servers(journal, "WTSSendMessageW") == [("TS01", 3), ("TS02", 2)] and code == 4
    code, console, journal, _ = example.run("farm-maintenance.cmd", ["restart", "30", "TS01", "TS02"],
                                            farm(TS01={"shutdown_error": 5}))
    yield "a refused countdown is reported and its server warned of nothing, exit code 1", \
        "TS01: the restart was refused: Access is denied [5]" in console \
        and on_servers(journal, "WTSSendMessageW") == [("TS02", 2)] and code == 1
    code, console, journal, _ = example.run("farm-maintenance.cmd", ["restart", "30", "TS01", "TS02"],
                                            farm(TS02={"enumerate_error": 5}))
    yield "a server that refuses this account is told from one that does not answer, exit code 5", \
        "TS02: refused this account: Access is denied [5]\nTS02: the request was accepted all " \
        "the same; nobody on it was told.\n" in console \
        and on_servers(journal, "WTSSendMessageW") == [("TS01", 3)] and code == 5
    for minutes in ("30min", "0", "14401", "030", ""):
        code, console, journal, _ = example.run("farm-maintenance.cmd",
                                                ["restart", minutes, "TS01"], farm())
        yield f"minutes {minutes!r}: usage, exit code 2, nothing asked", \
            code == 2 and "Usage:" in console and not journal
    code, console, journal, _ = example.run("farm-maintenance.cmd",
                                            ["restart", "14400", "TS01"], farm())
    yield "14400 minutes are taken", code == 0 and len(calls(journal, "InitiateShutdownW")) == 1
    code, console, journal, _ = example.run(
        "farm-maintenance.cmd", ["abort", "TS01", "TS02"],
        farm(TS01={"shutdown_pending": True}, TS02={"shutdown_pending": True}))
    yield "abort cancels each countdown, tells the sessions, exit code 0", \
        [e["machine"] for e in calls(journal, "AbortSystemShutdownW") if e["ok"]] == \
        ["TS01", "TS02"] and len(calls(journal, "WTSSendMessageW")) == 2 \
        and "TS02: the restart is cancelled." in console and code == 0
    code, console, journal, _ = example.run("farm-maintenance.cmd", ["abort", "TS01"], farm())
    yield "abort without a countdown is reported, nobody is told, exit code 1", \
        "TS01: the countdown could not be cancelled: Unable to abort the system shutdown " \
        "because no shutdown was in progress [1116]" in console \
        and not calls(journal, "WTSSendMessageW") and code == 1
    # The cancellation given up on at the limit may still be made: its users
    # are told nothing either way.
    code, console, journal, _ = example.run(
        "farm-maintenance.cmd", ["abort", "TS01"], farm(TS01={"delay_ms": 1500}),
        text=slow_limit("farm-maintenance.cmd", '"%QM%" /LOGFILE %WHATIF% /SERVER',
                        '"%QM%" /LOGFILE %WHATIF% /SERVERTIMEOUT 1 /SERVER'))
    yield "a cancellation without an answer in time: nobody is told, exit code 6", \
        "TS01: no answer in time: the countdown may or may not be cancelled. Nobody on it was " \
        "told; check that server.\n" in console and not calls(journal, "WTSSendMessageW") \
        and code == 6
    code, console, journal, _ = example.run("farm-maintenance.cmd", ["restart", "30"], farm())
    yield "no server: usage and exit code 2", code == 2 and "Usage:" in console and not journal
    code, console, journal, _ = example.run("farm-maintenance.cmd",
                                            ["restart", "30", "TS01", "/LOGOFF"], farm())
    yield "a server name that begins with \"/\": usage and exit code 2, nothing asked", \
        code == 2 and "Usage:" in console and not journal
    code, console, journal, _ = example.run("farm-maintenance.cmd",
                                            ["restart", "30", "TS02", "/WHATIF"], farm())
    yield "/WHATIF last: no changing call, the countdown and the message shown", \
        not changing_calls(journal) and code == 0 \
        and f"What if: Restart in 30 minutes on TS02: {text}\n" in console \
        and "What if: Message CORP\\carol #2 on TS02\n" in console \
        and "TS02: would restart in 30 minutes.\n" in console
    code, console, journal, _ = example.run("farm-maintenance.cmd", ["/WHATIF", "abort", "TS01"],
                                            farm())
    yield "/WHATIF abort: no changing call, the cancellation and the message shown", \
        not changing_calls(journal) and code == 0 \
        and "What if: /ABORTSHUTDOWN on TS01\n" in console \
        and "What if: Message CORP\\alice #3 on TS01\n" in console


def check_drain_and_restart(example):
    # Nobody works on TS02: one session disconnected, one at the logon screen.
    quiet = {"sessions": [{"id": 2, "state": "Disconnected", "user": "carol", "domain": "CORP"},
                          {"id": 6, "state": "Connected"}]}
    code, console, journal, _ = example.run("drain-and-restart.cmd", ["TS01", "TS02"],
                                            farm(TS02=quiet))
    settings = [(e["call"][29:], e["machine"], e.get("drain"), e.get("logons"))
                for e in journal if e["call"].startswith("Win32_TerminalServiceSetting")]
    yield "drains each server until its restart: a read, then the write", settings == [
        ("Get", "TS01", None, None), ("Put", "TS01", 1, 0),
        ("Get", "TS02", None, None), ("Put", "TS02", 1, 0)]
    yield "messages the users of each server", \
        [m["session"] for m in calls(journal, "WTSSendMessageW")] == [3, 6]
    yield "waits at most 30 minutes for the active session, and not for a quiet server", \
        [e["ms"] for e in calls(journal, "Sleep")] == [10000] * 30 * 6 \
        and "TS01: still in use after 30 minutes." in console \
        and "TS02: nobody works on it any more." in console
    yield "logs off the disconnected sessions of users", \
        [e["session"] for e in calls(journal, "WTSLogoffSession")] == [4, 2]
    yield "then each server restarts by itself after 5 minutes", \
        [(e["machine"], e["grace"], e["flags"]) for e in calls(journal, "InitiateShutdownW")] == \
        [("TS01", 300, 7), ("TS02", 300, 7)] and "TS02: restarts in 5 minutes." in console \
        and code == 0
    yield "with planned, application, maintenance as the reason", \
        [e["reason"] for e in calls(journal, "InitiateShutdownW")] == [0x80040001] * 2

    code, console, journal, _ = example.run("drain-and-restart.cmd", ["TS01", "ts03"],
                                            farm(TS01={"logon_mode_write_error": 5}))
    yield "a server that cannot be drained or does not answer is left alone, exit code 4", \
        "TS01: could not be drained: Access is denied [5]; left alone." in console \
        and "ts03: does not answer: The RPC server is unavailable [1722]; left alone." \
        in console and not calls(journal, "WTSSendMessageW") \
        and [e["machine"] for e in calls(journal, "Win32_TerminalServiceSetting.Get")] == ["TS01"] \
        and not calls(journal, "InitiateShutdownW") and code == 4
    code, console, journal, _ = example.run("drain-and-restart.cmd", ["TS01"],
                                            farm(TS01={"logon_mode_write_error": 5}))
    yield "a server that cannot be drained: exit code 1", code == 1
    code, console, journal, _ = example.run("drain-and-restart.cmd", ["TS01"],
                                            farm(TS01={"enumerate_error": 5}))
    yield "a server that refuses this account is left alone, exit code 5", \
        "TS01: refused this account: Access is denied [5]; left alone.\n" in console \
        and not calls(journal, "Win32_TerminalServiceSetting.Get") and code == 5

    # The restart given up on at the limit may still come: the drain stays.
    code, console, journal, _ = example.run(
        "drain-and-restart.cmd", ["TS02"], farm(TS02={"sessions": [], "delay_ms": 1100}),
        text=slow_limit("drain-and-restart.cmd", "call :ask %1 /REASON",
                        "call :ask %1 /SERVERTIMEOUT 1 /SERVER %1 /REASON"))
    yield "a restart without an answer in time keeps the drain, exit code 6", \
        "TS02: no answer in time: the restart may still come; logons left drained, check that " \
        "server.\n" in console and [(e["drain"], e["logons"]) for e in \
        calls(journal, "Win32_TerminalServiceSetting.Put")] == [(1, 0)] and code == 6

    code, console, journal, _ = example.run("drain-and-restart.cmd", ["TS02"],
                                            farm(TS02=dict(quiet, shutdown_error=5)))
    yield "a refused restart enables logons again, exit code 1", \
        "TS02: the restart was refused: Access is denied [5]" in console \
        and [(e["drain"], e["logons"]) for e in calls(journal, "Win32_TerminalServiceSetting.Put")] \
        == [(1, 0), (0, 0)] and "TS02: logons enabled again." in console and code == 1

    code, console, journal, _ = example.run("drain-and-restart.cmd", ["TS01", "/WHATIF"], farm())
    yield "/WHATIF last is passed on: the setting is read, not written, nobody is waited for", \
        "What if: Logons DRAINUNTILRESTART on TS01" in console \
        and "TS01: new logons would stop until the restart.\n" in console \
        and "TS01: would restart in 5 minutes.\n" in console \
        and len(calls(journal, "Win32_TerminalServiceSetting.Get")) == 1 \
        and not calls(journal, "Win32_TerminalServiceSetting.Put") \
        and not calls(journal, "Sleep") and not changing_calls(journal) and code == 0
    code, console, journal, _ = example.run("drain-and-restart.cmd", ["/WHATIF"], farm())
    yield "no server: usage and exit code 2", code == 2 and "Usage:" in console and not journal
    code, console, journal, _ = example.run("drain-and-restart.cmd", ["TS01", "/REBOOT"], farm())
    yield "a server name that begins with \"/\": usage and exit code 2, nothing asked", \
        code == 2 and "Usage:" in console and not journal


def check_ask_before_restart(example):
    def asked_farm(carol_answer="no", **changes):
        server = farm(**changes)
        ts01, ts02 = server["servers"]["TS01"]["sessions"], server["servers"]["TS02"]["sessions"]
        ts01[1].update(answer="yes", leaves_after_s=60)
        ts02[0]["answer"] = carol_answer
        return server

    code, console, journal, _ = example.run("ask-before-restart.cmd", ["5", "TS01", "TS02"],
                                            asked_farm())
    questions = [e for e in calls(journal, "WTSSendMessageW") if e["wait"]]
    yield "asks each server's users with a waiting Yes/No box", \
        [(e["session"], e["style"], e["timeout"], e["message"]) for e in questions] == \
        [(3, 292, 300, "May the server restart in 5 minutes?")] * 1 + \
        [(2, 292, 300, "May the server restart in 5 minutes?")]
    yield "a No puts the restart off, enables logons again, exit code 3", \
        "Answer No: CORP\\carol\n" in console \
        and "TS02: postponed: someone answered No.\nTS02: logons enabled again." in console \
        and [(e["machine"], e["drain"]) for e in calls(journal, "Win32_TerminalServiceSetting.Put")] \
        == [("TS01", 1), ("TS02", 1), ("TS02", 0)] and code == 3
    yield "a Yes: the users are told, it waits until they left, then restarts with a reason", \
        [e["ms"] for e in calls(journal, "Sleep")] == [10000] * 6 \
        and "TS01: nobody works on it any more." in console \
        and [e["session"] for e in calls(journal, "WTSLogoffSession")] == [4] \
        and [(e["machine"], e["grace"], e["reason"]) for e in calls(journal, "InitiateShutdownW")] \
        == [("TS01", 60, 0x80040001)] and "TS01: restarts in 1 minute." in console

    code, console, journal, _ = example.run("ask-before-restart.cmd", ["5", "TS01", "ts03"],
                                            asked_farm(TS01={"shutdown_error": 5}))
    yield "a refused restart enables logons again; a server not reached is left alone, exit 4", \
        "TS01: the restart was refused: Access is denied [5]" in console \
        and [e["drain"] for e in calls(journal, "Win32_TerminalServiceSetting.Put")] == [1, 0] \
        and "ts03: does not answer: The RPC server is unavailable [1722]; left alone." in console \
        and code == 4

    code, console, journal, _ = example.run(
        "ask-before-restart.cmd", ["5", "TS02"], farm(TS02={"sessions": [], "delay_ms": 1100}),
        text=slow_limit("ask-before-restart.cmd", "call :run %1 /REASON",
                        "call :run %1 /SERVERTIMEOUT 1 /SERVER %1 /REASON"))
    yield "a restart without an answer in time is not undone: the drain stays, exit code 6", \
        "TS02: no answer to the restart in time" in console and [e["drain"] for e in \
        calls(journal, "Win32_TerminalServiceSetting.Put")] == [1] and code == 6

    code, console, journal, _ = example.run("ask-before-restart.cmd", ["5", "/whatif", "TS01"],
                                            asked_farm())
    yield "/WHATIF anywhere: no changing call, nobody asked or waited for, each step shown", \
        not changing_calls(journal) and not calls(journal, "Sleep") and code == 0 \
        and "What if: Ask CORP\\alice #3 on TS01\n" in console \
        and "TS01: new logons would stop until the restart." in console \
        and "TS01: would restart in 1 minute." in console
    for arguments in (["5", "/TS01"], ["0", "TS01"], ["1441", "TS01"], ["5"], ["TS01", "TS02"]):
        code, console, journal, _ = example.run("ask-before-restart.cmd", arguments, farm())
        yield f"{arguments!r}: usage, exit code 2, nothing asked", \
            code == 2 and "Usage:" in console and not journal


def check_end_app_before_update(example):
    server = farm()
    ts01, ts02 = server["servers"]["TS01"]["sessions"], server["servers"]["TS02"]["sessions"]
    ts01[1]["processes"] = [{"pid": 301, "image": "csrss.exe", "owner": "NT AUTHORITY\\SYSTEM"},
                            {"pid": 302, "image": "WINWORD.EXE", "owner": "CORP\\alice"}]
    ts01[2]["processes"] = [{"pid": 401, "image": "WinWord.exe", "owner": "CORP\\bob",
                             "terminate_error": 5}]
    ts02[0]["processes"] = [{"pid": 201, "image": "WINWORD.EXE", "owner": "NT AUTHORITY\\SYSTEM"},
                            {"pid": 202, "image": "winword.exe", "owner": "CORP\\carol"}]
    code, console, journal, _ = example.run("end-app-before-update.cmd",
                                            ["winword.exe", "TS01", "TS02", "ts03"], server)
    yield "ends the image in the users' own sessions of each server that answers, nothing else", \
        [(e["pid"], e["ok"]) for e in calls(journal, "WTSTerminateProcess")] == \
        [(302, True), (401, False), (202, True)]
    yield "reports each server, a refusal with its reason, one that does not answer; exit code 4", \
        "TS01: 1 ended.\nTS01: 1 could not be ended: Access is denied [5]\n" in console \
        and "TS02: 1 ended.\nTS02: 1 left running: another account owns them.\n" in console \
        and "TS01: 1 left running" not in console and code == 4 \
        and "ts03: does not answer; left out: The RPC server is unavailable [1722]" in console
    code, console, journal, _ = example.run("end-app-before-update.cmd",
                                            ["winword.exe", "TS01", "TS02"], server)
    yield "a refusal on servers that all answer: exit code 1", code == 1
    code, console, journal, _ = example.run("end-app-before-update.cmd",
                                            ["WINWORD.EXE", "/whatif", "TS02"], server)
    yield "passes /WHATIF on from anywhere: ends nothing and shows what would be, exit code 0", \
        not changing_calls(journal) and code == 0 and console == \
        "What if: EndProcess CORP\\carol winword.exe 202 on TS02\nTS02: 1 would be ended.\n" \
        "TS02: 1 left running: another account owns them.\n"
    code, console, journal, _ = example.run("end-app-before-update.cmd", [], server)
    yield "no image name: usage and exit code 2", code == 2 and "Usage:" in console and not journal
    code, console, journal, _ = example.run("end-app-before-update.cmd",
                                            ["winword.exe", "TS01", "/ENDPROCESS"], server)
    yield "a server name that begins with \"/\": usage and exit code 2, nothing asked", \
        code == 2 and "Usage:" in console and not journal


def check_wait_until_inactive(example):
    code, console, journal, _ = example.run("wait-until-inactive.cmd", ["carol", "2"],
                                            demo_server())
    yield "an active user is waited for, a minute at a time", \
        code == 1 and len(calls(journal, "Sleep")) == 120
    yield "and reported", "carol is still active; giving up." in console
    code, console, journal, _ = example.run("wait-until-inactive.cmd", ["CORP\\bob"],
                                            demo_server())
    yield "a disconnected user is not active", \
        code == 0 and not calls(journal, "Sleep") and "(status 2)" in console
    code, console, journal, _ = example.run("wait-until-inactive.cmd", ["nobody"], demo_server())
    yield "an unknown user is not active", code == 0 and "(status 0)" in console
    code, console, journal, _ = example.run("wait-until-inactive.cmd", [], demo_server())
    yield "no user: usage and exit code 2", code == 2 and "Usage:" in console


# Command lines as administrators type them, split by the program itself:
# cmd hands each line on as written. Non-ASCII texts come in as the batch
# file's parameters (Wine's cmd reads a batch file in the OEM code page and
# cannot switch it without a console).
COMMAND_LINES = """@echo off
"%~dp0quillmarsh.exe" /MESSAGE alice "Your files are on H:\\" /STATUS bob
echo after a trailing backslash: %ERRORLEVEL%
"%~dp0quillmarsh.exe"\t/MESSAGE\talice\t"a""b"
"%~dp0quillmarsh.exe" /MESSAGE alice ""
"%~dp0quillmarsh.exe" /MESSAGE alice "%~1" /STATUS %2
echo non-ASCII user: %ERRORLEVEL%
"""


def check_command_lines(example):
    server = {"sessions": [
        {"id": 2, "station": "RDP-Tcp#2", "state": "Active", "user": "alice", "domain": "CORP"},
        {"id": 3, "station": "RDP-Tcp#3", "state": "Connected", "user": "bob", "domain": "CORP"},
        {"id": 4, "station": "RDP-Tcp#4", "state": "Shadow", "user": "j\u00fcrgen",
         "domain": "CORP"}]}
    code, console, journal, _ = example.run(
        "command-lines.cmd", ["\u2713 \u0141ukasz", "j\u00fcrgen"], server, text=COMMAND_LINES)
    sent = [(m["message"], m["message_bytes"]) for m in calls(journal, "WTSSendMessageW")]
    yield "a quoted text ends at its quote, backslash and all", \
        sent[:1] == [("Your files are on H:\\", 42)]
    yield "and the command after it runs", "after a trailing backslash: 3\n" in console
    yield "tabs separate; \"a\"\"b\" is ab", sent[1:2] == [("ab", 4)]
    yield "an empty quoted argument is an empty text", sent[2:3] == [("", 0)]
    yield "a text outside code page 1252 arrives whole", sent[3:] == [("\u2713 \u0141ukasz", 16)]
    yield "a non-ASCII user name is matched", "non-ASCII user: 5\n" in console


def check_morning_check(example):
    code, console, journal, files = example.run("morning-check.cmd", ["report.txt"],
                                                demo_server())
    report = files.get("report.txt", b"").decode("utf-8", errors="replace").split("\r\n")
    bob = "CORP\\bob".ljust(66) + " Disconnected"
    yield "the report lists every session", \
        "CORP\\carol".ljust(66) + " Active" in report and "#65536".ljust(66) + " Listen" in report
    summary_start = report.index("Disconnected:") if "Disconnected:" in report else len(report)
    listed = [line for line in report[:summary_start] if line.endswith(" Disconnected")]
    summary = [line for line in report[summary_start + 1:] if line]
    yield "and the disconnected ones again under the list", \
        len(listed) == 3 and bob in listed and summary == listed
    yield "exit code 0", code == 0
    code, console, journal, files = example.run("morning-check.cmd", ["report.txt"], None)
    yield "without Terminal Services: a note and exit code 1", \
        code == 1 and "No sessions could be listed (Errorlevel 0)." in console


def check_idle_report(example):
    server = demo_server(servers={"TS02": {"current_time": "2026-12-08T09:31:00Z", "sessions": [
        {"id": 2, "state": "Active", "user": "erin", "domain": "CORP", "client_name": "=1+1"}]}})
    code, console, journal, files = example.run(
        "idle-report.cmd", [".", "@servers.txt"], server,
        extra_files={"servers.txt": "TS02\n; not this one\nTS03\n"})
    names = [name for name in files if re.fullmatch(r"sessions-\d{4}-\d\d-\d\d\.csv", name)]
    rows = files[names[0]].decode("utf-8").split("\r\n") if len(names) == 1 else []
    yield "one CSV file with the date in its name", \
        names and [name for name in files if name.endswith(".csv")] == names
    yield "the heading once, then every session of each server that answers", \
        rows[:1] == ["server,id,station,state,domain,user,client_name,client_address,"
                     "logon_time,connect_time,disconnect_time,last_input_time,current_time,"
                     "idle_seconds"] and len(rows) == 1 + 10 + 1 + 1 and rows[-1] == "" \
        and rows[-2] == "TS02,2,,Active,CORP,erin,'=1+1,,,,,,2026-12-08T09:31:00Z," \
        and "ts03" not in files[names[0]].decode().lower()
    yield "the server not reached is reported with its reason, exit code 4", \
        "Server Not OK: TS03\nThe RPC server is unavailable [1722]\n" in console \
        and "2 of 3 server(s) written" in console and "Import-Csv" in console and code == 4

    # 55 servers, one of them dead (one run took 49 and said "55 written"):
    # two runs, each well under 100 commands.
    farm_servers = {f"TS{n:02}": {"sessions": [{"id": 2, "state": "Active", "user": f"u{n}"}]}
                    for n in range(1, 56) if n != 41}
    names_file = "".join(f"TS{n:02}\n" for n in range(1, 56))
    code, console, journal, files = example.run(
        "idle-report.cmd", ["@servers.txt"], {"servers": farm_servers},
        extra_files={"servers.txt": names_file})
    rows = [row for name, data in files.items() if name.startswith("sessions-")
            for row in data.decode("utf-8").split("\r\n")]
    yield "a long list: every server that answers, one heading, exit code 4", \
        rows[:1] and rows[0].startswith("server,") \
        and [row.split(",")[0] for row in rows[1:-1]] == sorted(farm_servers) \
        and "Server Not OK: TS41\n" in console and "54 of 55 server(s) written" in console \
        and code == 4 and len(calls(journal, "WTSOpenServerA")) == 55
    code, console, journal, files = example.run(
        "idle-report.cmd", ["TS01", "TS02"], {"servers": farm_servers})
    yield "exit code 0 when every server answers", code == 0 and "2 of 2 server(s)" in console
    code, console, journal, files = example.run(
        "idle-report.cmd", ["TS01", "TS02"],
        {"servers": dict(farm_servers, TS02={"enumerate_error": 5})})
    yield "a server that refuses this account is told from one that does not answer, exit code 5", \
        "TS02: refused this account; no rows.\n" in console and "1 of 2 server(s)" in console \
        and code == 5
    code, console, journal, files = example.run("idle-report.cmd", [], server)
    yield "no server: usage and exit code 2", code == 2 and "Usage:" in console and not journal
    code, console, journal, files = example.run("idle-report.cmd", ["TS01", "@servers.txt"],
                                                server, extra_files={"servers.txt": "/SERVER\n"})
    yield "a server name that begins with \"/\", in a file too: usage and exit code 2", \
        code == 2 and "Usage:" in console and not journal


def check_logoff_idle_disconnected(example):
    server = demo_server()
    server["sessions"].append({"id": 9, "state": "Disconnected", "user": "svc_backup",
                               "domain": "CORP", "disconnect_time": "2026-12-01T00:00:00Z"})
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd", [], server)
    logoffs = [entry["session"] for entry in calls(journal, "WTSLogoffSession")]
    yield "logs off the sessions disconnected for 120 minutes, never an excepted account", \
        logoffs == [4, 8] and code == 2 and "Logoff OK: CORP\\bob\n" in console
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd",
                                            ["/MINUTES", "1000"], server)
    yield "/MINUTES sets the minutes", \
        [entry["session"] for entry in calls(journal, "WTSLogoffSession")] == [8]
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd",
                                            ["/MINUTES", "6O", ".", "TS02"], server)
    yield "a typo in the minutes logs nobody off, exit code 3", \
        code == 3 and not calls(journal, "WTSLogoffSession") \
        and len(calls(journal, "WTSOpenServerA")) == 0
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd", [".", "1000"], server)
    yield "the older form: a number after the server is the minutes, never a server", \
        [entry["session"] for entry in calls(journal, "WTSLogoffSession")] == [8] \
        and len(calls(journal, "WTSOpenServerA")) == 0
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd",
                                            ["/MINUTES", "60", ".", "1000"], server)
    yield "minutes given twice log nobody off, exit code 3", code == 3 and not journal
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd",
                                            [".", "/MINUTES", "60"], server)
    yield "a server name that begins with \"/\" logs nobody off, exit code 3", \
        code == 3 and not journal

    farm_server = dict(server, servers={"TS02": {"current_time": "2026-12-08T09:30:00Z",
                                                 "sessions": [
        {"id": 5, "state": "Disconnected", "user": "dave", "domain": "CORP",
         "disconnect_time": "2026-12-07T09:30:00Z"}]}})
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd", ["TS99"], farm_server)
    yield "a server not reached is reported, never as nothing to do, exit code 4", \
        code == 4 and "Server Not OK: TS99\n" in console and "no session" not in console.lower()
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd",
                                            [".", "TS99", "TS02"], farm_server)
    yield "several servers: each one done, the dead one reported, exit code 4", \
        code == 4 and on_servers(journal, "WTSLogoffSession") == [(".", 4), (".", 8), ("TS02", 5)] \
        and "TS99: does not answer; left out.\n" in console
    farm_server["servers"]["TS03"] = {"enumerate_error": 5}
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd", ["TS03", "TS02"],
                                            farm_server)
    yield "a server that refuses this account is told apart, the others done, exit code 5", \
        code == 5 and "TS03: refused this account; left out.\n" in console \
        and on_servers(journal, "WTSLogoffSession") == [("TS02", 5)]
    code, console, journal, _ = example.run("logoff-idle-disconnected.cmd",
                                            [".", "TS02", "/WHATIF"], farm_server)
    yield "/WHATIF last: no changing call, each logoff shown, exit code 2", \
        not changing_calls(journal) and code == 2 \
        and "What if: Logoff CORP\\bob #4 on TS01\n" in console \
        and "What if: Logoff CORP\\dave #5 on TS02\n" in console


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--simulated-program", required=True, type=pathlib.Path)
    parser.add_argument("--wine-prefix", required=True)
    options = parser.parse_args()
    example = Example(options.simulated_program, options.wine_prefix)
    passed = failed = 0
    for name, check in [("nightly-reboot", check_nightly_reboot),
                        ("logoff-disconnected", check_logoff_disconnected),
                        ("farm-nightly-reboot", check_farm_nightly_reboot),
                        ("farm-maintenance", check_farm_maintenance),
                        ("drain-and-restart", check_drain_and_restart),
                        ("ask-before-restart", check_ask_before_restart),
                        ("end-app-before-update", check_end_app_before_update),
                        ("wait-until-inactive", check_wait_until_inactive),
                        ("morning-check", check_morning_check),
                        ("idle-report", check_idle_report),
                        ("logoff-idle-disconnected", check_logoff_idle_disconnected),
                        ("command-lines", check_command_lines)]:
        for label, ok in check(example):
            print(f"{'ok  ' if ok else 'FAIL'} {name}: {label}")
            passed += bool(ok)
            failed += not ok
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
