#!/usr/bin/env bash
# Runs a Windows program under Wine in the test run's prefix: the emulator of the windows builds.
#   wine-run.sh [--prefix DIR] PROGRAM [ARGUMENT...]
#   wine-run.sh --can-run PROGRAM    exit 0 when this machine can run PROGRAM, else say why, 77
# DIR (default $QZ7_WINE_DIR) is the folder wine-prefix.sh made; the prefix is DIR/prefix.
# As root, the program runs as the unprivileged user nobody, who owns the prefix.
#
# A 32-bit program needs Wine's 32-bit loader, a 32-bit Linux program, which runs only where the
# kernel runs 32-bit programs (IA-32 emulation; a kernel may be built or booted without it, as
# with ia32_emulation=off). Where it cannot, the program is not run: this script says so on
# standard error and exits 77, which the test runs count as skipped, not passed.
set -euo pipefail

check_only=0
if [ "${1:-}" = "--can-run" ]; then
  check_only=1
  shift
fi

dir="${QZ7_WINE_DIR:-}"
if [ "${1:-}" = "--prefix" ]; then
  dir="$2"
  shift 2
fi
if [ -z "$dir" ] && [ "$check_only" -eq 0 ]; then
  echo "wine-run.sh: no prefix folder (give --prefix DIR or set QZ7_WINE_DIR)" >&2
  exit 2
fi

# Wine's loader for the program's machine type, read from its PE header (the 16-bit Machine field
# after the "PE\0\0" signature that the DOS header's e_lfanew at 0x3C points to): 0x014c is a
# 32-bit x86 program, which wine (of wine32) runs; anything else goes to wine64. Both loaders lie
# in one folder and use the same kind of prefix.
loader_folder=/usr/lib/wine
if [ ! -x "$loader_folder/wine64" ]; then
  loader_folder="$(dirname "$(readlink -f "$(command -v wine64 || command -v wine)")")"
fi
wine="$loader_folder/wine64"
program="${1:-}"
if [ -f "$program" ]; then
  pe_offset="$(od -An -tu4 -j60 -N4 "$program" 2>/dev/null | tr -d ' ')"
  if [ -n "$pe_offset" ]; then
    machine="$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$program" 2>/dev/null | tr -d ' ')"
    if [ "$machine" = "014c" ]; then
      wine="$loader_folder/wine"
      if [ ! -x "$wine" ]; then
        echo "wine-run.sh: $program is a 32-bit program and Wine's 32-bit loader is missing" \
          "(install wine32:i386: scripts/install-deps.sh)" >&2
        exit 2
      fi
      if ! "$wine" --version >/dev/null 2>&1; then
        echo "wine-run.sh: not run: $(basename "$program") is a 32-bit program, and this" \
          "machine's kernel does not run 32-bit programs such as Wine's 32-bit loader" \
          "(IA-32 emulation off)" >&2
        exit 77
      fi
    fi
  fi
fi
if [ "$check_only" -eq 1 ]; then exit 0; fi

environment=(HOME="$dir" WINEPREFIX="$dir/prefix" WINEDEBUG="${WINEDEBUG:--all}"
  WINEDLLOVERRIDES="mscoree,mshtml=" QZ7_WINE_DIR="$dir")
if [ "$(id -u)" -eq 0 ]; then
  exec runuser -u nobody -- env "${environment[@]}" "$wine" "$@"
fi
exec env "${environment[@]}" "$wine" "$@"
