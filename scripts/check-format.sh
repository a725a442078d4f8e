#!/bin/sh
# Fails when a tracked C++ file is not as clang-format (with .clang-format) writes it.
set -eu
cd "$(dirname "$0")/.."
bad=$(git ls-files '*.cpp' '*.h' | while read -r f; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || echo "$f"
done)
if [ -n "$bad" ]; then
    echo "Not formatted (run clang-format -i on them):" >&2
    echo "$bad" >&2
    exit 1
fi
