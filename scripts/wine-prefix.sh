#!/usr/bin/env bash
# The one throwaway Wine prefix of a Windows test run.
#   wine-prefix.sh start DIR   makes a fresh prefix in DIR/prefix, maps the test drives and
#                              keeps the wine server running for the run (wineserver -p)
#   wine-prefix.sh stop DIR    ends that wine server and removes DIR
# When run by root, Wine runs as the unprivileged user nobody (Wine run by root ignores the
# read-only attribute), which then owns DIR. The tests reach the prefix through wine-run.sh.
set -euo pipefail

action="$1"
dir="$2"
here="$(cd "$(dirname "$0")" && pwd)"

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
    # tests/CMakeLists.txt), linked to a folder of its own beside the prefix.
    as_runner mkdir -p "$dir/drives"
    "$here/wine-run.sh" --prefix "$dir" wineboot -i
    for letter in m n o p q r s t u v w x y; do
      as_runner mkdir -p "$dir/drives/$letter"
      as_runner ln -sfn "$dir/drives/$letter" "$dir/prefix/dosdevices/$letter:"
    done
    # The server stays up between the test programs instead of starting for each one.
    as_runner env WINEPREFIX="$dir/prefix" "$(dirname "$(readlink -f "$(command -v wine64 || echo /usr/lib/wine/wine64)")")/wineserver" -p
    ;;
  stop)
    if [ -d "$dir/prefix" ]; then
      as_runner env WINEPREFIX="$dir/prefix" "$(dirname "$(readlink -f "$(command -v wine64 || echo /usr/lib/wine/wine64)")")/wineserver" -k || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
