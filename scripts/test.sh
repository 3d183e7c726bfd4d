#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --windows

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native
