#!/bin/sh
# Installs the build into a temporary prefix, checks what libZqs5162.so
# exports, and builds and runs two small applications against the installed
# files (one on Zqs5162.h, one that drives the hosted target through
# target.h): with find_package(qio5162), and with pkg-config, found once
# through an rpath and once through LD_LIBRARY_PATH.
# Usage: install_test.sh <build dir> <app source dir> <exports list> <C compiler> [more export names...]
set -eu
build=$1
app=$2
exports=$3
cc=$4
shift 4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for f in include/qio5162/Zqs5162.h include/qio5162/target.h include/qio5162/driver_state.h lib/libZqs5162.so lib/libqioplatform.so \
         lib/libZqs5162s.so lib/libqio5162target.so lib/cmake/qio5162/qio5162Config.cmake \
         lib/pkgconfig/qio5162.pc lib/pkgconfig/qio5162-target.pc; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

nm -D --defined-only "$prefix/lib/libZqs5162.so" | awk '{print $3}' | sort >"$work/exports"
{ cat "$exports"; for name in "$@"; do echo "$name"; done; } | sort >"$work/expected"
if ! diff "$work/expected" "$work/exports"; then
  echo "libZqs5162.so exports differ from the list (< expected, > found)"
  exit 1
fi

echo "== find_package(qio5162)"
cmake -S "$app" -B "$work/app-cmake" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/app-cmake" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/app-cmake/qio5162_app"
"$work/app-cmake/qio5162_harness_app"

echo "== pkg-config qio5162, found through an rpath"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
flags=$(pkg-config --cflags --libs qio5162)
libdir=$(pkg-config --variable=libdir qio5162)
"$cc" -std=c11 -Wall -Werror "$app/main.c" $flags -Wl,-rpath,"$libdir" -o "$work/app-pc"
"$work/app-pc"

echo "== pkg-config qio5162-target, found through LD_LIBRARY_PATH"
flags=$(pkg-config --cflags --libs qio5162-target)
"$cc" -std=c11 -Wall -Werror "$app/target_main.c" $flags -o "$work/harness-pc"
# Without the path it does not start (unless a copy is installed system-wide).
if ! /sbin/ldconfig -p 2>/dev/null | grep -q libqio5162target && "$work/harness-pc" >/dev/null 2>&1; then
  echo "the application ran without its libraries on the search path"
  exit 1
fi
LD_LIBRARY_PATH="$libdir" "$work/harness-pc"
