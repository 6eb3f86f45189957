#!/usr/bin/env bash
# Reads the export table of a built qz7instm.dll with the objdump of its toolchain and compares
# its names with the list a setup program relies on: exactly these names, no other.
#   dll_exports_test.sh OBJDUMP DLL NAME...
set -euo pipefail

objdump="$1"
dll="$2"
shift 2

actual="$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | LC_ALL=C sort)"
expected="$(printf '%s\n' "$@" | LC_ALL=C sort)"

if [ -z "$actual" ]; then
  echo "no export table found in $dll" >&2
  exit 1
fi
if [ "$actual" != "$expected" ]; then
  echo "exports of $dll differ from the list:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "exports of $(basename "$dll"):"
echo "$actual"
