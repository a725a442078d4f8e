#!/bin/sh
# Fails when a text the user sees has no German or Japanese translation, or a
# catalogue does not compile.
set -eu
cd "$(dirname "$0")"
pot=$(mktemp)
trap 'rm -f "$pot"' EXIT
sh ./extract.sh "$pot"
failed=0
for lang in de ja; do
    if ! msgcmp "$lang.po" "$pot" || ! msgfmt --check-format --check-header -o /dev/null "$lang.po"; then
        failed=$((failed + 1))
    fi
done
echo "$((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
