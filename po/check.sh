#!/bin/sh
# Fails when a text the user sees has no German or Japanese translation, a
# catalogue does not compile, a translated label lost its mnemonic
# (po/mnemonics.py), or a catalogue holds a text the template lacks: the texts
# that only a helper hands to the translation lookup reach the template
# through po/helpers.py, and a template without them would pass the first
# comparison (a smaller template is no error to msgcmp), not this one.
set -eu
cd "$(dirname "$0")"
pot=$(mktemp)
trap 'rm -f "$pot"' EXIT
sh ./extract.sh "$pot"
failed=0
for lang in de ja; do
    if ! msgcmp "$lang.po" "$pot" || ! msgcmp --use-untranslated "$pot" "$lang.po" ||
        ! msgfmt --check-format --check-header -o /dev/null "$lang.po" ||
        ! python3 ./mnemonics.py "$lang.po"; then
        failed=$((failed + 1))
    fi
done
echo "$((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
