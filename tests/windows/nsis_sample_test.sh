#!/usr/bin/env bash
# The sample installer of examples/, run silently under Wine as a setup author would run it: on
# a computer holding the earlier release (made by qz7inst.exe demo --sample-only), the installer
# carries the instances into C:\QZ7; its uninstaller removes them with their services.
#   nsis_sample_test.sh BIN_DIR INSTALLER
# BIN_DIR holds qz7inst.exe; INSTALLER is the built sample installer. Runs in the prefix of
# $QZ7_WINE_DIR through scripts/wine-run.sh.
set -euo pipefail

bin="$1"
installer="$2"
source "$(dirname "$0")/wine_script.sh"

# Nothing is run where this machine cannot run the build's programs (exit 77: skipped).
runnable_or_skip "$bin/qz7inst.exe" "$installer"

run "$bin/qz7inst.exe" demo --this-computer --sample-only >/dev/null

# The installer's exit code is createInstances' result.
status=0
run "$installer" /S '/PROFILE=C:\QZ7PROF' '/D=C:\QZ7' || status=$?
[ "$status" -eq 0 ] || fail "the installer ended with $status"

listed="$(run "$bin/qz7inst.exe" list --json | tr -d '\r')"
for name in QZ7 SALES QZ7DAS00; do
  grep -q "\"name\": *\"$name\"" <<<"$listed" || fail "$name is not listed after the install"
done
if grep -q '"configCurrent": *false' <<<"$listed"; then
  fail "an instance is not at the current release: $listed"
fi
grep -q '"directory": *"C:\\\\QZ7\\\\' <<<"$listed" || fail "the instances did not move to C:\\QZ7"
run cmd /c 'if exist C:\QZ7\qz7setup.log (exit 0) else (exit 1)' || fail "no setup log was written"
run reg query 'HKLM\SYSTEM\CurrentControlSet\Services\QZ7' >/dev/null 2>&1 || fail "the service of QZ7 is missing after the install"

# The uninstaller, run in place (_?=) so that Wine waits for it.
run 'C:\QZ7\uninstall.exe' /S '_?=C:\QZ7' || fail "the uninstaller failed"
listed="$(run "$bin/qz7inst.exe" list 'C:\QZ7' --json | tr -d '\r')"
if grep -q '"name":' <<<"$listed"; then fail "instances are left after the uninstall: $listed"; fi
for name in QZ7 SALES QZ7DAS00; do
  if run reg query "HKLM\SYSTEM\CurrentControlSet\Services\$name" >/dev/null 2>&1; then
    fail "the service of $name is left after the uninstall"
  fi
done
echo "sample installer: instances carried over and removed again"
