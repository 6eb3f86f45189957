#!/usr/bin/env bash
# The one throwaway Wine prefix of a Windows test run.
#   wine-prefix.sh start DIR   makes a fresh prefix in DIR/prefix, maps the test drives and
#                              keeps the wine server running for the run (wineserver -p)
#   wine-prefix.sh stop DIR    ends that wine server and removes DIR
# When run by root, Wine runs as the unprivileged user nobody (Wine run by root ignores the
# read-only attribute), which then owns DIR. The tests reach the prefix through wine-run.sh.
set -euo pipefail

action="$1"
dir="$(realpath -m "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
wineserver="$(dirname "$(readlink -f "$(command -v wine64 || echo /usr/lib/wine/wine64)")")/wineserver"

as_runner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

case "$action" in
  start)
    if [ -d "$dir/prefix" ]; then "$0" stop "$dir"; fi
    rm -rf "$dir"
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ]; then chown nobody "$dir"; fi
    # Drives M: to Y: are free for the suites: each gets a letter of its own (see
    # tests/CMakeLists.txt), linked to a folder of its own beside the prefix. D: and E: are
    # the test machine's (testkit/temp_machine.h): a test that needs them has Wine's mount
    # manager map them, of the type it asks for, for as long as it runs.
    as_runner mkdir -p "$dir/drives" "$dir/prefix"
    # The server stays up between the test programs instead of starting for each one; it is
    # started first, so that wineboot and every program of the run use it.
    # The server and the programs wineboot leaves running get no handle on this script's
    # output: ctest would wait for them to close it.
    as_runner env WINEPREFIX="$dir/prefix" "$wineserver" -p </dev/null >/dev/null 2>&1
    # The first program in the new prefix makes Wine set it up (wineboot --init) and waits
    # for that. Every wineboot starts a service manager of its own, so wineboot must run only
    # this once: a second one would answer on the same pipe with a service list of its own,
    # and a service one program registered would then be missing for another.
    if ! "$here/wine-run.sh" --prefix "$dir" cmd /c exit </dev/null >"$dir/wineboot.log" 2>&1; then
      cat "$dir/wineboot.log" >&2
      exit 1
    fi
    for letter in m n o p q r s t u v w x y; do
      as_runner mkdir -p "$dir/drives/$letter"
      as_runner ln -sfn "$dir/drives/$letter" "$dir/prefix/dosdevices/$letter:"
    done
    ;;
  stop)
    if [ -d "$dir/prefix" ]; then
      as_runner env WINEPREFIX="$dir/prefix" "$wineserver" -k || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
