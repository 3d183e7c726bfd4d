#!/usr/bin/env bash
# Builds the Windows program and packs it for administrators:
# dist/quillmarsh-<version>-win64.zip with quillmarsh.exe, README.md, the
# administrator's guide (admin-guide.md: where to put the program, the rights
# each command needs, the exit codes) and the example batch files (text files
# with CR LF line ends), and dist/quillmarsh-<version>-x64.msi, which installs
# the program, the guide and the examples into %ProgramFiles%\quillmarsh
# (packaging/quillmarsh.wxs, built by packaging/msi.py with wixl). It checks
# what it packed before it names each file.
#
# With QUILLMARSH_SIGN_PFX set, quillmarsh.exe is signed before it is packed
# and so is the .msi (packaging/sign.sh; the build folder's quillmarsh.exe
# stays as built). Without it both are unsigned.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --windows
cmake --preset windows >/dev/null
cmake --build --preset windows --target quillmarsh

version=$(sed -n 's/^project(quillmarsh VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p dist

# What both packages hold, as an administrator gets it: a copy of the
# program (signed when a certificate is named) and each text as in the
# repository but with CR LF.
staging=build/windows/package
rm -rf "$staging"
mkdir -p "$staging/examples"
cp build/windows/quillmarsh.exe "$staging/quillmarsh.exe"
python3 - "$staging" <<'PYTHON'
import pathlib
import sys

staging = pathlib.Path(sys.argv[1])
texts = [("README.md", "README.md"), ("docs/admin-guide.md", "admin-guide.md")]
texts += [(str(p), f"examples/{p.name}") for p in sorted(pathlib.Path("examples").glob("*.cmd"))]
for source, target in texts:
    data = pathlib.Path(source).read_bytes()
    (staging / target).write_bytes(data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
PYTHON
./packaging/sign.sh "$staging/quillmarsh.exe"

python3 - "$version" "$staging" <<'PYTHON'
import pathlib
import subprocess
import sys
import time
import zipfile

version = sys.argv[1]
staging = pathlib.Path(sys.argv[2])
name = f"quillmarsh-{version}-win64"
archive = pathlib.Path("dist") / f"{name}.zip"
targets = ["quillmarsh.exe", "README.md", "admin-guide.md"]
targets += [f"examples/{p.name}" for p in sorted(pathlib.Path("examples").glob("*.cmd"))]
files = [(str(staging / target), target) for target in targets]

# Every entry carries the time of the last commit, so that the same sources
# give the same archive.
stamp = int(subprocess.run(["git", "log", "-1", "--format=%ct"], capture_output=True,
                           text=True).stdout.strip() or 315532800)
date_time = time.gmtime(max(stamp, 315532800))[:6]

with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as zipped:
    for source, target in files:
        data = pathlib.Path(source).read_bytes()
        entry = zipfile.ZipInfo(f"{name}/{target}", date_time)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        zipped.writestr(entry, data)

# What an administrator unpacks: the program, the two documents and every
# example, each text as in the repository but with CR LF.
with zipfile.ZipFile(archive) as zipped:
    assert zipped.testzip() is None
    names = [entry.filename for entry in zipped.infolist()]
    examples = sorted(p.name for p in pathlib.Path("examples").glob("*.cmd"))
    assert names == [f"{name}/{target}" for target in
                     ["quillmarsh.exe", "README.md", "admin-guide.md"]
                     + [f"examples/{example}" for example in examples]], names
    guide = zipped.read(f"{name}/admin-guide.md")
    assert guide == pathlib.Path("docs/admin-guide.md").read_bytes().replace(b"\n", b"\r\n"), \
        "admin-guide.md in the archive is not docs/admin-guide.md"
    assert b"Exit codes" in guide and b"Server Not OK" in guide
    for entry in zipped.infolist():
        print(f"{entry.file_size:>10}  {entry.filename}")
print(archive)
PYTHON

msi="dist/quillmarsh-$version-x64.msi"
python3 packaging/msi.py --staging "$staging" --output "$msi"
./packaging/sign.sh "$msi"
