#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine. As root it
# installs missing packages with apt-get; otherwise it names them.
set -euo pipefail

packages=(cmake ninja-build g++ python3 libgtest-dev libgmock-dev nlohmann-json3-dev)
# Extra groups: --windows (cross compiler and Wine; wixl and msitools for the
# .msi, osslsigncode and openssl for signing it and its test certificate),
# --checks (sanitizers, fuzzing, valgrind), --bench (benchmarks).
for group in "$@"; do
  case "$group" in
    --windows)
      packages+=(g++-mingw-w64-x86-64-posix wine wine64 wixl msitools osslsigncode openssl) ;;
    --checks) packages+=(clang libclang-rt-14-dev valgrind) ;;
    --bench) packages+=(libbenchmark-dev hyperfine libspdlog-dev) ;;
    *) echo "setup.sh: unknown group $group" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -eq 0 ]]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Please install: ${missing[*]} (sudo apt-get install ${missing[*]})" >&2
    exit 1
  fi
fi
