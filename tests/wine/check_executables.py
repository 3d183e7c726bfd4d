#!/usr/bin/env python3
"""Checks the Windows executables as files: they import only KnownDLLs, and
they carry the version information and the application manifest.

Prints one line per check and "N passed, N failed"; exits 1 on a failure.
"""

import argparse
import pathlib
import re
import struct
import subprocess
import sys
from xml.etree import ElementTree

# The loader resolves imports by bare name, and looks beside the program
# before System32 for every DLL that is not a KnownDLL (a planted copy would
# run with the program's rights). So the program imports only these
# KnownDLLs, the ones that it and mingw's static runtime need (user32, which
# sets up the window system in every process that loads it, is not one); everything
# else is loaded from System32 at run time. Not api-ms-win-* (no KnownDLLs).
KNOWN_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll"}
IMPORT_DIRECTORY = 1
DELAY_IMPORT_DIRECTORY = 13
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
WINDOWS_SETTINGS_2019 = "http://schemas.microsoft.com/SMI/2019/WindowsSettings"
TERMINAL_SERVER_AWARE = 0x8000


def tool(name):
    return f"x86_64-w64-mingw32-{name}"


def imported_dlls(image):
    """The DLL names of a PE32+ image's import and delay-import directories."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections, optional_size = struct.unpack_from("<2xH12xH", image, pe + 4)
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        raise ValueError("not PE32+")
    table = optional + optional_size
    spans = [struct.unpack_from("<8xIIII", image, table + 40 * i) for i in range(sections)]

    def offset(rva):
        for virtual_size, address, raw_size, raw in spans:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section")

    def name_at(rva):
        start = offset(rva)
        return image[start:image.index(b"\0", start)].decode("ascii")

    names = []
    for directory, entry_size, name_field in ((IMPORT_DIRECTORY, 20, 12),
                                              (DELAY_IMPORT_DIRECTORY, 32, 4)):
        rva, size = struct.unpack_from("<II", image, optional + 112 + 8 * directory)
        if rva == 0 or size == 0:
            continue
        entry = offset(rva)
        while any(image[entry:entry + entry_size]):
            names.append(name_at(struct.unpack_from("<I", image, entry + name_field)[0]))
            entry += entry_size
    return names


def checks(program, version):
    dlls = {name.lower() for name in imported_dlls(program.read_bytes())}
    yield "imports only KnownDLLs: " + ", ".join(sorted(dlls)), \
        "kernel32.dll" in dlls and dlls <= KNOWN_DLLS
    dumped = subprocess.run([tool("objdump"), "-p", str(program)], capture_output=True,
                            text=True, check=True).stdout
    characteristics = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dumped, re.MULTILINE)
    yield "DllCharacteristics has TERMINAL_SERVER_AWARE (0x8000)", \
        characteristics is not None \
        and int(characteristics.group(1), 16) & TERMINAL_SERVER_AWARE != 0

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
