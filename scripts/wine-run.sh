#!/usr/bin/env bash
# Runs a Windows program under Wine in the test run's prefix: the emulator of the windows build.
#   wine-run.sh [--prefix DIR] PROGRAM [ARGUMENT...]
# DIR (default $QZ7_WINE_DIR) is the folder wine-prefix.sh made; the prefix is DIR/prefix.
# As root, the program runs as the unprivileged user nobody, who owns the prefix.
set -euo pipefail

dir="${QZ7_WINE_DIR:-}"
if [ "${1:-}" = "--prefix" ]; then
  dir="$2"
  shift 2
fi
if [ -z "$dir" ]; then
  echo "wine-run.sh: no prefix folder (give --prefix DIR or set QZ7_WINE_DIR)" >&2
  exit 2
fi

wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then wine="$(command -v wine64 || command -v wine)"; fi

environment=(HOME="$dir" WINEPREFIX="$dir/prefix" WINEDEBUG="${WINEDEBUG:--all}"
  WINEDLLOVERRIDES="mscoree,mshtml=" QZ7_WINE_DIR="$dir")
if [ "$(id -u)" -eq 0 ]; then
  exec runuser -u nobody -- env "${environment[@]}" "$wine" "$@"
fi
exec env "${environment[@]}" "$wine" "$@"
