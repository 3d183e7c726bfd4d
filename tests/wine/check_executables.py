#!/usr/bin/env python3
"""Checks the Windows executables as files: they need no DLL beside them, and
they carry the version information and the application manifest.

Prints one line per check and "N passed, N failed"; exits 1 on a failure.
"""

import argparse
import pathlib
import re
import subprocess
import sys
from xml.etree import ElementTree

# DLLs that every Windows has; anything else would have to ship beside the
# program.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll", "wtsapi32.dll"}
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
WINDOWS_SETTINGS_2019 = "http://schemas.microsoft.com/SMI/2019/WindowsSettings"
TERMINAL_SERVER_AWARE = 0x8000


def tool(name):
    return f"x86_64-w64-mingw32-{name}"


def checks(program, version):
    dumped = subprocess.run([tool("objdump"), "-p", str(program)], capture_output=True,
                            text=True, check=True).stdout
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dumped)}
    characteristics = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dumped, re.MULTILINE)
    yield "DllCharacteristics has TERMINAL_SERVER_AWARE (0x8000)", \
        characteristics is not None \
        and int(characteristics.group(1), 16) & TERMINAL_SERVER_AWARE != 0
    yield "imports only system DLLs: " + ", ".join(sorted(dlls)), dlls <= SYSTEM_DLLS

    resources = subprocess.run([tool("windres"), "-i", str(program), "-O", "rc"],
                               capture_output=True, text=True, check=True).stdout
    commas = ", ".join(version.split("."))
    yield "FILEVERSION " + version, f"FILEVERSION {commas}" in resources
    yield "PRODUCTVERSION " + version, f"PRODUCTVERSION {commas}" in resources
    yield "ProductName quillmarsh", 'VALUE "ProductName", "quillmarsh"' in resources
    yield "FileDescription", re.search(r'VALUE "FileDescription", "[^"]+"', resources) is not None
    yield "OriginalFilename " + program.name, \
        f'VALUE "OriginalFilename", "{program.name}"' in resources
    manifest = "".join(re.findall(r'^\s*"(.*)"\s*$', resources.split("RT_MANIFEST", 1)[-1],
                                  re.MULTILINE))
    yield "manifest runs asInvoker", 'level=""asInvoker""' in manifest
    yield "manifest declares Windows 10 and 11", WINDOWS_10 in manifest
    # Windows reads the entry only in its place and namespace.
    xml_text = manifest.replace('""', '"').replace("\\n", "\n")
    code_page = ElementTree.fromstring(xml_text.encode("utf-8")).find(
        "asm3:application/asm3:windowsSettings/ws2019:activeCodePage",
        {"asm3": "urn:schemas-microsoft-com:asm.v3", "ws2019": WINDOWS_SETTINGS_2019})
    yield "manifest sets the ANSI code page to UTF-8", \
        code_page is not None and code_page.text == "UTF-8"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("programs", nargs="+", type=pathlib.Path)
    options = parser.parse_args()
    passed = failed = 0
    for program in options.programs:
        for label, ok in checks(program, options.version):
            print(f"{'ok  ' if ok else 'FAIL'} {program.name}: {label}")
            passed += bool(ok)
            failed += not ok
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
