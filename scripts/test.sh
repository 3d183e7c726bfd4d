#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --windows --checks

# Configures and builds one preset.
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

echo "== native build and tests"
build native
ctest --preset native

echo "== windows build and tests under Wine"
build windows
./scripts/package.sh
./scripts/wine-test.sh

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
build asan
ctest --preset asan

echo "== ThreadSanitizer"
build tsan
ctest --preset tsan

echo "== valgrind memcheck over the end-to-end cases"
python3 tests/e2e/run_cases.py --program build/native/quillmarsh --cases tests/e2e/cases \
  --wrapper "valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect"

echo "== fuzzing, a bounded run of each target"
build fuzz
for target in command_line ring_file log_format; do
  # New inputs go to a scratch corpus; the repository's stays as it is.
  mkdir -p "build/fuzz/corpus-$target"
  if ! "build/fuzz/fuzz_$target" -max_total_time="${QUILLMARSH_FUZZ_SECONDS:-60}" -timeout=60 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build/fuzz/ \
    "build/fuzz/corpus-$target" "fuzz/corpus/$target" >"build/fuzz/$target.log" 2>&1; then
    tail -n 60 "build/fuzz/$target.log"
    echo "fuzz_$target failed" >&2
    exit 1
  fi
  echo "fuzz_$target: $(grep -E '^Done' "build/fuzz/$target.log")"
done
