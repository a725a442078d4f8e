#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one for
# SECONDS (default 10) over a copy of its seed corpus, fuzz/corpus/<name>/ for the
# target fuzz_<name>. The seeds in the tree stay as they are; new inputs land in
# build-fuzz/corpus/<name>/. Fails on the first target that crashes, leaks or
# hangs; the input that did it is kept in build-fuzz/artifacts/<name>/.
#
#   scripts/fuzz.sh [SECONDS]
set -eu

seconds=${1:-10}
case $seconds in
'' | *[!0-9]*)
    echo "usage: $0 [SECONDS]" >&2
    exit 2
    ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DHB_FUZZ=ON -DHB_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target hb_fuzz_all

# Undefined behaviour stops the run like a crash instead of scrolling past.
UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export UBSAN_OPTIONS

status=0
while read -r target; do
    [ -n "$target" ] || continue
    name=${target#fuzz_}
    seeds=$root/fuzz/corpus/$name
    corpus=$build/corpus/$name
    artifacts=$build/artifacts/$name
    rm -rf "$corpus"
    mkdir -p "$corpus" "$artifacts"
    if [ -d "$seeds" ]; then
        cp -R "$seeds"/. "$corpus"/
    fi
    echo "== $target: $seconds s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$build/$target.log" 2>&1; then
        tail -n 40 "$build/$target.log" >&2
        echo "== $target FAILED; inputs in $artifacts, log in $build/$target.log" >&2
        status=1
        break
    fi
    grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" || true
done <"$build/fuzz/targets.txt"

exit $status
