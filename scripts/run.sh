#!/bin/sh
# Installs what Halbrook needs, builds it and starts it.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
# The windows are still to come; until then this starts the test probe, which
# prints its usage.
exec ./build/hbprobe "$@"
