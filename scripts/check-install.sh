#!/usr/bin/env bash
# Installs a configured build into a temporary prefix, checks that exactly the package's files
# were installed, and builds tests/install/consumer.c against that tree twice: through CMake's
# find_package(qz7instm) and through pkg-config. Both programs must run and pass, and the
# installed qz7inst must run its demo with the instance tools installed beside it.
#
#   scripts/check-install.sh [BUILD_DIR]      (default: build/default, configured already)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

# `cmake --install` builds nothing: build what it installs.
cmake --build "$build" --target qz7instm qz7inst
cmake --install "$build" --prefix "$prefix" > /dev/null

echo "check-install: installed files"
installed="$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)"
echo "$installed" | sed 's/^/  /'
pcfile="$(echo "$installed" | grep '/pkgconfig/qz7instm\.pc$')"
libdir="${pcfile%/pkgconfig/qz7instm.pc}"
config="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" | tr '[:upper:]' '[:lower:]')"
config="${config:-noconfig}"
expected="$(sort <<LIST
bin/qz7icrt
bin/qz7inst
bin/qz7iupdt
bin/qz7ncrt
include/qz7instm.h
$libdir/cmake/qz7instm/qz7instmConfig.cmake
$libdir/cmake/qz7instm/qz7instmConfigVersion.cmake
$libdir/cmake/qz7instm/qz7instmTargets.cmake
$libdir/cmake/qz7instm/qz7instmTargets-$config.cmake
$libdir/libqz7instm.so
$libdir/libqz7instm.so.0
$libdir/libqz7instm.so.0.1
$pcfile
LIST
)"
if [ "$installed" != "$expected" ]; then
  echo "check-install: the installed files differ from the package's list:" >&2
  diff <(echo "$expected") <(echo "$installed") >&2 || true
  exit 1
fi
soname="$(readelf -d "$prefix/$libdir/libqz7instm.so.0.1" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')"
if [ "$soname" != "libqz7instm.so.0" ]; then
  echo "check-install: SONAME is '$soname', not libqz7instm.so.0" >&2
  exit 1
fi

echo "check-install: consumer through find_package(qz7instm)"
cmake -S tests/install -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  > "$work/consumer-configure.log" || { cat "$work/consumer-configure.log" >&2; exit 1; }
cmake --build "$work/consumer" > "$work/consumer-build.log" \
  || { cat "$work/consumer-build.log" >&2; exit 1; }
"$work/consumer/qz7instm_consumer"

echo "check-install: consumer through pkg-config"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
flags="$(pkg-config --cflags --libs qz7instm)"
echo "  pkg-config --cflags --libs qz7instm: $flags"
# shellcheck disable=SC2086  # the flags are words
"${CC:-cc}" -std=c99 -Wall -Wextra -Werror tests/install/consumer.c $flags \
  -Wl,-rpath,"$(pkg-config --variable=libdir qz7instm)" -o "$work/consumer-pc"
"$work/consumer-pc"

echo "check-install: installed qz7inst demo"
"$prefix/bin/qz7inst" demo "$work/machine" > "$work/demo.log" \
  || { tail -n 20 "$work/demo.log" >&2; exit 1; }
tail -n 1 "$work/demo.log" | sed 's/^/  /'
echo "check-install: passed"
