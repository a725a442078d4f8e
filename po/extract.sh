#!/bin/sh
# Writes the catalogue template of every text the user sees to FILE: the
# sources of the program's libraries, with _(), N_() and ngettext_() marking
# the texts, and the texts handed to a helper that translates its parameter
# (po/helpers.py finds those helpers), so that a label passed to one reaches
# the catalogue like one inside _(). The folders of carved files are named in
# lib/cbr.directories and translated when shown, so their names are texts the
# user sees as well.
#   po/extract.sh FILE
set -eu
out=$1
cd "$(dirname "$0")/.."
list=$(mktemp)
folders=$(mktemp --suffix=.cpp)
trap 'rm -f "$list" "$folders"' EXIT
find core platform devices tree fs cbr analysis gui app -name '*.cpp' -o -name '*.h' | LC_ALL=C sort >"$list"
sed -n -e 's/\\/\\\\/g' -e 's/"/\\"/g' \
    -e 's/^\(Type\|Subtype\):[[:space:]]*\(.*[^[:space:]]\)[[:space:]]*$/N_("\2")/p' \
    lib/cbr.directories >"$folders"
echo "$folders" >>"$list"
# shellcheck disable=SC2046 # one option a word
xgettext --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_ --keyword=ngettext_:1,2 \
    $(xargs python3 po/helpers.py <"$list") \
    --package-name=Halbrook --no-location --output="$out" --files-from="$list"
# The template's placeholder charset would make msgcmp and msgmerge warn.
sed -i 's/charset=CHARSET/charset=UTF-8/' "$out"
