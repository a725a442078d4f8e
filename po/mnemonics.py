#!/usr/bin/env python3
"""Fails when a translated label has lost the mnemonic of its English text:
"_Location" as "Speicherort" leaves the German dialog without Alt+key for the
field, and Alt+O then presses OK. A Japanese key must be one its keyboard
types with Alt, a Latin letter or digit ("場所(_L)").

An underscore marks the key that follows it, as GTK reads a label; "__" is an
underscore. Names in capitals such as "GOOD_IN_FAT" are no labels.

    po/mnemonics.py FILE.po...
"""
import re
import sys

ENTRY_LINE = re.compile(r'(msgid|msgid_plural|msgstr(?:\[\d+\])?) "(.*)"$')
IDENTIFIER = re.compile(r"[A-Z0-9]+(?:_[A-Z0-9]+)+$")
# Languages whose keyboards type their own script only through an input
# method: Alt+key reaches a Latin letter or digit.
LATIN_KEYS = {"ja"}


def unquote(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


def entries(path):
    """(msgid, [translations]) of each live entry, the header left out."""
    found = []
    current = None
    field = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            m = ENTRY_LINE.match(line)
            if m:
                field = m.group(1)
                if field == "msgid":
                    current = {}
                    found.append(current)
                current[field] = current.get(field, "") + unquote(m.group(2))
            elif line.startswith('"') and current is not None:
                current[field] += unquote(line[1:-1])
            elif not line.strip():
                field = None
    for e in found:
        if e["msgid"]:
            yield e["msgid"], [v for k, v in e.items() if k.startswith("msgstr")]


def key(text):
    """The mnemonic key of a label, or None."""
    m = re.search(r"(?:^|[^_])(?:__)*_([^_])", text)
    return m.group(1) if m else None


def language(path):
    with open(path, encoding="utf-8") as f:
        m = re.search(r'"Language: (\w+)\\n"', f.read())
    return m.group(1) if m else ""


def problems(path):
    latin = language(path) in LATIN_KEYS
    for msgid, translations in entries(path):
        if key(msgid) is None or IDENTIFIER.match(msgid):
            continue
        for text in translations:
            k = key(text)
            if not text:
                continue
            if k is None:
                yield "%s: %r lost the mnemonic of %r" % (path, text, msgid)
            elif latin and not (k.isascii() and k.isalnum()):
                yield "%s: %r has the key %r, which Alt cannot type" % (path, text, k)


def main():
    found = [p for path in sys.argv[1:] for p in problems(path)]
    for p in found:
        print(p, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
