#!/usr/bin/env python3
"""The Windows Installer package, signed and installed under Wine.

  tests/wine/msi_test.py --msi dist/quillmarsh-V-x64.msi --staging build/windows/package \\
      --wine-prefix PREFIX

The package from scripts/package.sh is version 1. Version 2 is built here
from a copy of the same files with the patch number one higher, after a
throw-away self-signed certificate has signed its quillmarsh.exe; the .msi
is signed too (packaging/sign.sh, as package.sh does). In a fresh prefix:
install 1, run the installed program and an installed example, install 2
over it, remove it. The steps build on each other, so the first failure
ends the run.

Prints one line per step and "N passed, N failed"; exits 1 on a failure.
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

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPOSITORY / "packaging"))
import msi  # noqa: E402

INSTALLED = r"C:\Program Files\quillmarsh"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Prefix:
    def __init__(self, path):
        self.path = pathlib.Path(path).resolve()
        self.env = dict(os.environ, WINEPREFIX=str(self.path), WINEDEBUG="-all")
        self.installed = self.path / "drive_c/Program Files/quillmarsh"

    def run(self, arguments, cwd=None):
        # Output goes to files: Wine's background services would keep a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(arguments, env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=300).returncode
            out.seek(0)
            err.seek(0)
            return code, out.read(), err.read()

    def create(self):
        if self.path.exists():
            self.run(["wineserver", "-k"])
            shutil.rmtree(self.path)
        self.path.mkdir(parents=True)
        # The first start of a prefix now and then fails on a busy machine.
        if self.run(["wineboot", "-i"])[0] != 0:
            self.run(["wineserver", "-k"])
            expect(self.run(["wineboot", "-i"])[0] == 0, "wineboot failed twice")

    def msiexec(self, action, package):
        # A Unix path would read as a switch: msiexec runs in the package's folder.
        return self.run(["wine", "msiexec", action, package.name, "/qn"], cwd=package.parent)[0]

    def files(self):
        return {p.relative_to(self.path) for p in (self.path / "drive_c").rglob("*")}

    def products(self):
        """The product codes of the installed products named quillmarsh."""
        text = self.run(["wine", "reg", "query", UNINSTALL, "/s"])[1].decode(errors="replace")
        found, key = [], None
        for line in text.splitlines():
            if line.startswith("HKEY_"):
                key = line.rsplit("\\", 1)[-1]
            elif re.fullmatch(r"\s+DisplayName\s+REG_SZ\s+quillmarsh", line):
                found.append(key)
        return sorted(found)


def properties(package):
    return dict(row[:2] for row in msi.table(package, "Property"))


def self_signed_certificate(folder):
    """A code-signing certificate and key for one run, as PEM and PFX."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=quillmarsh test signing", "-keyout", folder / "key.pem",
                    "-out", folder / "cert.pem", "-addext", "extendedKeyUsage=codeSigning",
                    "-addext", "keyUsage=critical,digitalSignature"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", folder / "key.pem", "-in",
                    folder / "cert.pem", "-out", folder / "test.pfx", "-passout", "pass:t3st"],
                   check=True, capture_output=True)
    return folder / "cert.pem", {"QUILLMARSH_SIGN_PFX": str(folder / "test.pfx"),
                                 "QUILLMARSH_SIGN_PASSWORD": "t3st"}


def sign(files, variables):
    env = {k: v for k, v in os.environ.items() if not k.startswith("QUILLMARSH_SIGN_")}
    subprocess.run([REPOSITORY / "packaging/sign.sh", *files], env=dict(env, **variables),
                   check=True, capture_output=True)


def verified(path, certificate):
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", path],
                            capture_output=True, text=True)
    return result.returncode == 0 and "Succeeded" in result.stdout


def usage_hint():
    cases = json.loads((REPOSITORY / "tests/wine/cases/smoke.json").read_text())
    case = next(c for c in cases if c["args"] == [])
    return "".join(line + "\r\n" for line in case["stdout"]).encode()


def steps(options, scratch):
    first, staging = options.msi.resolve(), options.staging.resolve()
    version = properties(first)["ProductVersion"]
    major, minor, patch = version.split(".")
    later = f"{major}.{minor}.{int(patch) + 1}"
    second_staging = scratch / "staging"
    shutil.copytree(staging, second_staging)
    second = scratch / f"quillmarsh-{later}-x64.msi"
    certificate, variables = self_signed_certificate(scratch)
    prefix = Prefix(options.wine_prefix)
    unsigned = staging / "quillmarsh.exe"

    def signing():
        before = unsigned.read_bytes()
        sign([unsigned], {})
        expect(unsigned.read_bytes() == before, "without QUILLMARSH_SIGN_PFX the file changed")
        sign([second_staging / "quillmarsh.exe"], variables)
        subprocess.run([sys.executable, REPOSITORY / "packaging/msi.py", "--staging",
                        second_staging, "--output", second, "--version", later],
                       check=True, capture_output=True)
        sign([second], variables)
        for path in (second_staging / "quillmarsh.exe", second):
            expect(verified(path, certificate), f"osslsigncode does not verify {path.name}")
        expect(not verified(first, certificate), "the unsigned package verifies")
    yield "a throw-away certificate signs quillmarsh.exe and the .msi; none signs nothing", signing

    def versions():
        wanted = ".".join(options.version.split(".")[:3])
        one, two = properties(first), properties(second)
        expect(one["ProductVersion"] == wanted, f"ProductVersion {one['ProductVersion']}")
        expect(two["ProductVersion"] == later, f"ProductVersion {two['ProductVersion']}")
        expect(one["UpgradeCode"] == two["UpgradeCode"] == "{9A3C1B0D-1E1A-4004-A587-0515A7BEC8EF}",
               f"UpgradeCode {one['UpgradeCode']}, {two['UpgradeCode']}")
        expect(one["ProductCode"] != two["ProductCode"], "both versions have one ProductCode")
    yield f"msiinfo: ProductVersion {version}, then {later}; one UpgradeCode", versions

    before = set()

    def install():
        prefix.create()
        before.update(prefix.files())
        expect(prefix.msiexec("/i", first) == 0, "msiexec /i did not exit with 0")
        names = sorted(str(p.relative_to(prefix.installed)) for p in prefix.installed.rglob("*")
                       if p.is_file())
        want = sorted(str(p.relative_to(staging)) for p in staging.rglob("*")
                      if p.is_file() and p.name != "README.md")
        expect(names == want, f"installed {names}")
        for name in want:
            expect((prefix.installed / name).read_bytes() == (staging / name).read_bytes(),
                   f"{name} differs")
        expect(prefix.products() == [properties(first)["ProductCode"]], "not one product")
    yield f"msiexec /i {first.name} /qn installs into {INSTALLED}", install

    def usage():
        code, out, _ = prefix.run(["wine", INSTALLED + r"\quillmarsh.exe"])
        expect((code, out) == (0, usage_hint()), f"exit {code}, {out!r}")
    yield "the installed quillmarsh.exe prints the usage hint", usage

    def example():
        temp = prefix.run(["wine", "cmd", "/c", "echo", "%TEMP%"])[1].decode().strip()
        log = pathlib.Path(prefix.run(["winepath", "-u", temp])[1].decode().strip())
        code, out, err = prefix.run(["wine", "cmd", "/c",
                                     INSTALLED + r"\examples\logoff-disconnected.cmd", "/WHATIF"])
        expect((code, out, err) == (0, b"No disconnected sessions of users.\r\n", b""),
               f"exit {code}, {out!r}, {err!r}")
        # The example found the program one folder up: its run is in the log.
        text = (log / "quillmarsh.utf8.log").read_text(encoding="utf-8-sig")
        expect("|I|What if: on" in text and "|I|Begin LogoffDisconnected" in text,
               "the program did not run")
    yield r"examples\logoff-disconnected.cmd /WHATIF runs the installed program", example

    def upgrade():
        expect(prefix.msiexec("/i", second) == 0, "msiexec /i did not exit with 0")
        expect(prefix.products() == [properties(second)["ProductCode"]],
               f"products {prefix.products()}")
        copies = [p for p in prefix.path.joinpath("drive_c").rglob("quillmarsh.exe")]
        expect(copies == [prefix.installed / "quillmarsh.exe"], f"copies {copies}")
        expect(copies[0].read_bytes() == (second_staging / "quillmarsh.exe").read_bytes(),
               "the installed quillmarsh.exe is not the signed one")
    yield f"msiexec /i {second.name} /qn replaces {version}: one product, one copy", upgrade

    def removal():
        expect(prefix.msiexec("/x", second) == 0, "msiexec /x did not exit with 0")
        expect(prefix.products() == [], f"products {prefix.products()}")
        expect(not prefix.installed.exists(), f"{INSTALLED} is still there")
        # A file of the package is one of its names anywhere, a cached .msi,
        # or anything new in the program folders. Wine's own housekeeping
        # (setup caches under windows\inf) and the runs' temporary files and
        # log are none of them.
        names = {p.name.lower() for p in second_staging.rglob("*") if p.is_file()}
        left = sorted(str(p) for p in prefix.files() - before if (prefix.path / p).is_file() and (
            p.name.lower() in names or p.suffix.lower() == ".msi"
            or p.parts[1].lower() in ("program files", "program files (x86)", "programdata")))
        expect(not left, f"left behind: {left}")
    yield f"msiexec /x {second.name} /qn removes every file", removal


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--msi", required=True, type=pathlib.Path)
    parser.add_argument("--staging", required=True, type=pathlib.Path)
    parser.add_argument("--version", required=True, help="the program's four-part version")
    parser.add_argument("--wine-prefix", required=True)
    options = parser.parse_args()
    if not options.msi.is_file():
        print(f"msi_test.py: no {options.msi}; ./scripts/package.sh builds it", file=sys.stderr)
        return 1
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="quillmarsh-msi-test-") as name:
        try:
            for label, step in steps(options, pathlib.Path(name)):
                try:
                    step()
                except (Failure, subprocess.SubprocessError, OSError, KeyError) as error:
                    failed += 1
                    print(f"FAIL {label}: {error}")
                    break
                passed += 1
                print(f"ok   {label}")
        finally:
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=str(
                pathlib.Path(options.wine_prefix).resolve())), stderr=subprocess.DEVNULL)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
