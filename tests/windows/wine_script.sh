# What the Windows scripted tests share; sourced, not run.
#   run PROGRAM [ARGUMENT...]   runs a Windows program in the test run's prefix
#   fail MESSAGE...             says what failed and ends the test
#   runnable_or_skip PROGRAM... ends the test as skipped (77) when this machine cannot run one
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
run() { "$here/scripts/wine-run.sh" "$@"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
runnable_or_skip() {
  local program
  for program in "$@"; do
    "$here/scripts/wine-run.sh" --can-run "$program" || exit 77
  done
}
