#!/bin/sh
# Installs the build into a temporary prefix, checks what libZqs5162.so
# exports, and builds and runs two small applications against the installed
# files (one on Zqs5162.h, one that drives the hosted target through
# target.h): with find_package(qio5162), and with pkg-config, found once
# through an rpath and once through LD_LIBRARY_PATH.
# Then the Python package: imported from the prefix's dist-packages with nothing but
# PYTHONPATH (it finds the libraries through the location recorded at install), and installed
# with pip into a virtual environment from the source tree.
# Usage: install_test.sh <build dir> <app source dir> <exports list> <C compiler> <python> <python package source>
#                        [more export names...]
set -eu
build=$1
app=$2
exports=$3
cc=$4
python=$5
python_source=$6
shift 6

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

echo "== the Python package from the prefix"
package="$prefix/lib/python3/dist-packages/qio5162"
[ -f "$package/__init__.py" ] && [ -f "$package/_location.py" ] || { echo "not installed: $package"; exit 1; }
cat >"$work/use.py" <<'PY'
import os, sys, time
import qio5162
expected = sys.argv[1]
assert os.path.realpath(qio5162.__file__).startswith(os.path.realpath(expected)), qio5162.__file__
with qio5162.Target() as target, target.open(0) as device:
    board = target.board_of(0)
    board.set_counter_input(0, 2e6)
    device.counter_freq_start(0)
    hz = device.counter_freq_read(0)
    assert abs(hz - 2e6) < 2e3, hz
    print("measured %.0f Hz through %s" % (hz, qio5162.library_directory()))
PY
# Moved elsewhere, the prefix still works: the location is relative to the package.
mv "$prefix" "$work/moved"
env -u QIO5162_LIBRARY_DIR -u LD_LIBRARY_PATH PYTHONPATH="$work/moved/lib/python3/dist-packages" \
  "$python" "$work/use.py" "$work/moved/lib/python3/dist-packages/qio5162"
mv "$work/moved" "$prefix"

echo "== pip install into a virtual environment"
if "$python" -m venv --system-site-packages "$work/venv" >"$work/venv.log" 2>&1; then
  cp -r "$python_source" "$work/python-source"
  "$work/venv/bin/python" -m pip install --no-index --quiet "$work/python-source" >"$work/pip.log" 2>&1 ||
    { cat "$work/pip.log"; exit 1; }
  env -u LD_LIBRARY_PATH QIO5162_LIBRARY_DIR="$prefix/lib" PYTHONPATH= \
    "$work/venv/bin/python" "$work/use.py" "$work/venv/lib"
else
  echo "no venv module for $python: skipped"
fi
