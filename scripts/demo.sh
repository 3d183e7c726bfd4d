#!/usr/bin/env bash
# Builds the Linux program and runs it against the bundled demo server
# (examples/demo-server.json): a services session, the console, several RDP
# users in different states and a listener.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null

export QUILLMARSH_SERVER=examples/demo-server.json
run() {
  echo "\$ quillmarsh $*"
  set +e
  build/native/quillmarsh "$@"
  echo "(Errorlevel $?)"
  set -e
  echo
}
run
run /LISTALLSESSIONS
run /NOTME /LISTACTIVESESSIONS
run /STATUS dave
run /SESSIONINFO "*ALL"
run /CSV /IDLEMINUTES 120 /SESSIONINFO "*ALL"
