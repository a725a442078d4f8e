#!/bin/sh
# Installs what the build and the tests need, builds Halbrook and runs every test.
#   scripts/test.sh             build/ with the normal flags
#   scripts/test.sh --sanitize  build-asan/ with AddressSanitizer and UBSan
set -eu
cd "$(dirname "$0")/.."

sh scripts/install-deps.sh

BUILD=build
# The benchmarks are built (not run) so that they keep compiling.
EXTRA="-DHB_BENCH=ON -DHB_TESTS=ON"
if [ "${1:-}" = "--sanitize" ]; then
    BUILD=build-asan
    EXTRA="-DHB_SANITIZE=ON -DHB_TESTS=ON"
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
fi

cmake -S . -B "$BUILD" -G Ninja $EXTRA >/dev/null
cmake --build "$BUILD"
# GUI tests need a display; everything else ignores it.
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$BUILD" --output-on-failure -j "$(( $(nproc) + 2 ))"
