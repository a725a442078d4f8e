#!/bin/sh
# Writes the catalogue template of every text the user sees to FILE: the
# sources of the program's libraries, with _(), N_() and ngettext_() marking
# the texts.
#   po/extract.sh FILE
set -eu
out=$1
cd "$(dirname "$0")/.."
list=$(mktemp)
trap 'rm -f "$list"' EXIT
find core platform devices tree fs cbr analysis gui app -name '*.cpp' -o -name '*.h' | LC_ALL=C sort >"$list"
xgettext --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_ --keyword=ngettext_:1,2 \
    --package-name=Halbrook --no-location --output="$out" --files-from="$list"
# The template's placeholder charset would make msgcmp and msgmerge warn.
sed -i 's/charset=CHARSET/charset=UTF-8/' "$out"
