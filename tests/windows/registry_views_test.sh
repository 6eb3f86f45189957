#!/usr/bin/env bash
# One product for the 32-bit and the 64-bit build: the earlier release made by one build's
# qz7inst.exe is listed, upgraded and removed by the other's, both ways round. The product's
# registry keys are where a 32-bit program writes them (on 64-bit Windows, below
# SOFTWARE\WOW6432Node), and the 64-bit build opens them there.
#   registry_views_test.sh THIS_BIN OTHER_BIN
# Each folder holds a build's qz7inst.exe with its instance tools. When OTHER_BIN has not been
# built, the test says so and is skipped (exit 77); CI builds the x86-64 preset first.
set -euo pipefail

this="$1"
other="$2"
source "$(dirname "$0")/wine_script.sh"
if [ ! -f "$other/qz7inst.exe" ]; then
  echo "skipped: the other Windows build ($other) is not built"
  exit 77
fi
runnable_or_skip "$this/qz7inst.exe" "$other/qz7inst.exe"

# Makes the earlier release with $1's tool, lists and upgrades it with $2's, removes it with $1's.
round() {
  local maker="$1" user="$2" listed
  run "$maker/qz7inst.exe" demo --this-computer --sample-only >/dev/null
  listed="$(run "$user/qz7inst.exe" list 'C:\QZ7PROF' --json | tr -d '\r')"
  for name in QZ7 SALES QZ7DAS00; do
    grep -q "\"name\": *\"$name\"" <<<"$listed" ||
      fail "$name made by $maker is not listed by $user: $listed"
  done
  run "$user/qz7inst.exe" create --quiet --install 'C:\QZ7' --current 'C:\QZ7PROF' \
    --requested 'C:\QZ7PROF' | tr -d '\r' | grep -qx 'result: 0' || fail "$user could not upgrade"
  listed="$(run "$maker/qz7inst.exe" list --json | tr -d '\r')"
  for name in QZ7 SALES QZ7DAS00; do
    grep -q "\"name\": *\"$name\"" <<<"$listed" ||
      fail "$name upgraded by $user is not listed by $maker: $listed"
  done
  if grep -q '"configCurrent": *false' <<<"$listed"; then fail "not upgraded: $listed"; fi
  run "$maker/qz7inst.exe" delete --quiet --install 'C:\QZ7' >/dev/null
  listed="$(run "$user/qz7inst.exe" list 'C:\QZ7' --json | tr -d '\r')"
  if grep -q '"name":' <<<"$listed"; then fail "left after $maker removed them: $listed"; fi
}

round "$this" "$other"
round "$other" "$this"
echo "registry views: both builds see one product"
