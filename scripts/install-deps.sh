#!/usr/bin/env bash
# Installs what building and testing QZ7INSTM needs, from Debian packages, when it is missing.
# Safe to run again: it installs nothing when everything is there.
set -euo pipefail

# The windows preset cross-builds with mingw-w64 (posix thread model), builds GoogleTest from the
# sources of the googletest package, and runs the programs under wine64.
packages=(cmake g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev clang-format clang
  libclang-rt-14-dev nlohmann-json3-dev pkgconf g++-mingw-w64-x86-64-posix wine64)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
