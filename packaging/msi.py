#!/usr/bin/env python3
"""Builds quillmarsh's Windows Installer package with wixl and checks it.

    msi.py --staging DIR --output FILE.msi [--version X.Y.Z]

DIR holds what gets installed: quillmarsh.exe, admin-guide.md and
examples/*.cmd. The version is the first three parts of quillmarsh.exe's
version resource unless --version names another (the tests build a later
package from the same files that way). The ProductCode is a name-based UUID
of the version under the UpgradeCode of packaging/quillmarsh.wxs: every
version is a new product, and the same version built twice is the same
product, never a second entry beside the first.

After wixl it reads the package back with msiinfo: the files, the version
and codes, and that nothing touches the environment (PATH). Prints what the
package installs; exits 1 when a check fails.
"""

import argparse
import pathlib
import re
import struct
import subprocess
import sys
import tempfile
import uuid
from xml.etree import ElementTree

SOURCE = pathlib.Path(__file__).resolve().with_name("quillmarsh.wxs")
WIX = "{http://schemas.microsoft.com/wix/2006/wi}"
# VS_FIXEDFILEINFO starts with this signature, then the structure version
# and the file version as two DWORDs (major.minor, build.revision).
FIXED_FILE_INFO = struct.pack("<I", 0xFEEF04BD)


def resource_version(exe):
    """The file version of a PE image's version resource, as four numbers."""
    image = exe.read_bytes()
    at = image.find(FIXED_FILE_INFO)
    if at < 0:
        raise SystemExit(f"msi.py: {exe} has no version resource")
    high, low = struct.unpack_from("<II", image, at + 8)
    return high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF


def product_version(text):
    """X.Y.Z within Windows Installer's limits (255.255.65535)."""
    parts = text.split(".")
    if len(parts) != 3 or not all(p.isdigit() for p in parts):
        raise SystemExit(f"msi.py: the version must be X.Y.Z, not {text!r}")
    major, minor, build = map(int, parts)
    if major > 255 or minor > 255 or build > 65535:
        raise SystemExit(f"msi.py: {text} exceeds Windows Installer's 255.255.65535")
    return f"{major}.{minor}.{build}"


def upgrade_code():
    product = ElementTree.parse(SOURCE).getroot().find(f"{WIX}Product")
    return uuid.UUID(product.get("UpgradeCode"))


def product_code(version):
    return str(uuid.uuid5(upgrade_code(), f"quillmarsh {version}")).upper()


def examples_source(names):
    """A WiX fragment with one component per example under INSTALLDIR\\examples.
    Component GUIDs are "*": wixl derives each from its directory and file."""
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
             '  <Fragment>', '    <DirectoryRef Id="INSTALLDIR">',
             '      <Directory Id="EXAMPLESDIR" Name="examples">']
    ids = []
    for name in names:
        if not re.fullmatch(r"[A-Za-z0-9_.-]+\.cmd", name):
            raise SystemExit(f"msi.py: unexpected example file name {name!r}")
        ident = "example_" + name.replace("-", "_")
        ids.append(ident)
        lines += [f'        <Component Id="{ident}" Guid="*" Win64="yes">',
                  f'          <File Id="{ident}" Name="{name}" KeyPath="yes"'
                  f' Source="$(var.Staging)/examples/{name}" />',
                  '        </Component>']
    lines += ['      </Directory>', '    </DirectoryRef>', '  </Fragment>', '  <Fragment>',
              '    <ComponentGroup Id="Examples">']
    lines += [f'      <ComponentRef Id="{ident}" />' for ident in ids]
    lines += ['    </ComponentGroup>', '  </Fragment>', '</Wix>', '']
    return "\n".join(lines)


def table(msi, name):
    """The rows of one table, as lists of fields (msiinfo export)."""
    text = subprocess.run(["msiinfo", "export", str(msi), name], check=True,
                          capture_output=True, text=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:]]


def check(msi, staging, version, code, examples):
    properties = dict(row[:2] for row in table(msi, "Property"))
    failures = []
    for key, want in (("ProductVersion", version), ("ProductCode", "{" + code + "}"),
                      ("UpgradeCode", "{" + str(upgrade_code()).upper() + "}"),
                      ("ALLUSERS", "1")):
        if properties.get(key) != want:
            failures.append(f"{key} is {properties.get(key)!r}, not {want!r}")
    files = sorted(row[2] for row in table(msi, "File"))
    want_files = sorted(["quillmarsh.exe", "admin-guide.md"] + examples)
    if files != want_files:
        failures.append(f"files {files}, not {want_files}")
    sizes = {row[2]: int(row[3]) for row in table(msi, "File")}
    for name, size in sizes.items():
        path = staging / ("examples/" + name if name.endswith(".cmd") else name)
        if path.stat().st_size != size:
            failures.append(f"{name}: {size} bytes, not {path.stat().st_size}")
    tables = subprocess.run(["msiinfo", "tables", str(msi)], check=True, capture_output=True,
                            text=True).stdout.split()
    if "Environment" in tables and table(msi, "Environment"):
        failures.append("the package changes environment variables")
    return failures, sizes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--staging", required=True, type=pathlib.Path)
    parser.add_argument("--output", required=True, type=pathlib.Path)
    parser.add_argument("--version")
    options = parser.parse_args()
    staging = options.staging.resolve()
    output = options.output.resolve()

    if options.version is None:
        options.version = ".".join(map(str, resource_version(staging / "quillmarsh.exe")[:3]))
    version = product_version(options.version)
    code = product_code(version)
    examples = sorted(p.name for p in (staging / "examples").glob("*.cmd"))
    if not examples:
        raise SystemExit(f"msi.py: no example in {staging / 'examples'}")

    with tempfile.TemporaryDirectory(prefix="quillmarsh-msi-") as scratch:
        fragment = pathlib.Path(scratch) / "examples.wxs"
        fragment.write_text(examples_source(examples))
        # wixl takes each Source relative to the folder it runs in.
        result = subprocess.run(
            ["wixl", "-a", "x64", "-D", f"Version={version}", "-D", f"ProductCode={code}",
             "-D", "Staging=.", "-o", str(output), str(SOURCE), str(fragment)],
            cwd=staging, capture_output=True, text=True)
    if result.returncode != 0 or result.stderr.strip():
        sys.stderr.write(result.stdout + result.stderr)
        raise SystemExit(f"msi.py: wixl failed ({result.returncode})")

    failures, sizes = check(output, staging, version, code, examples)
    for failure in failures:
        print(f"msi.py: {output.name}: {failure}", file=sys.stderr)
    if failures:
        output.unlink()
        return 1
    print(f"ProductVersion {version}, ProductCode {{{code}}}")
    for name in ["quillmarsh.exe", "admin-guide.md"] + examples:
        folder = "examples\\" if name.endswith(".cmd") else ""
        print(f"{sizes[name]:>10}  %ProgramFiles%\\quillmarsh\\{folder}{name}")
    print(options.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
