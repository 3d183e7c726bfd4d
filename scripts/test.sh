#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --windows

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== windows build and tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
./scripts/package.sh
./scripts/wine-test.sh
