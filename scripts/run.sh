#!/bin/sh
# Installs what Halbrook needs to run, builds it and starts it with the given
# arguments (e.g. dbg=halbrook.log to write the debug log to a file). It needs a
# graphical display.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh --run
if [ -f build/CMakeCache.txt ] && grep -q '^HB_TESTS:BOOL=ON' build/CMakeCache.txt; then
    # A test build is already there: the program is one of its targets.
    cmake -S . -B build -G Ninja >/dev/null
else
    cmake -S . -B build -G Ninja -DHB_TESTS=OFF >/dev/null
fi
cmake --build build --target halbrook
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Halbrook is a desktop program and needs a graphical display (DISPLAY is not set)." >&2
    exit 1
fi
exec ./build/halbrook "$@"
