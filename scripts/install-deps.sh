#!/usr/bin/env bash
# Installs what building and testing QZ7INSTM needs, from Debian packages, when it is missing.
# Safe to run again: it installs nothing when everything is there.
set -euo pipefail

# The windows and windows-x86 presets cross-build with mingw-w64 (posix thread model) for x86-64
# and x86, build GoogleTest from the sources of the googletest package, and run the programs
# under Wine: wine64 for the 64-bit programs, wine32 (of the i386 architecture) for the 32-bit
# ones. makensis builds the sample installers of examples/.
packages=(cmake g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev clang-format clang
  libclang-rt-14-dev nlohmann-json3-dev pkgconf g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix wine64 wine32:i386 nsis)

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
# wine32 is a package of the i386 architecture, which a 64-bit Debian knows only once added.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
