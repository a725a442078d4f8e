#!/usr/bin/env python3
"""Prints an xgettext --keyword option for every helper of the sources that
hands one of its own text parameters to the translation lookup, so that the
texts its callers pass are extracted like those inside _():

    void printDate(std::ostream& os, const char* label, u16 date) {
        os << _(label) ...                    ->  --keyword=printDate:2

Functions, members and named lambdas are found; a parameter counts when its
type is a C string or a string and the body translates it (_(p) or
_(p.c_str())). A helper found so is never missed by the catalogue check, and
one added later is found the same way.

    po/helpers.py FILE...
"""
import re
import sys

# A definition: the name, its parameter list (no parentheses inside), then the
# body's brace; member functions may say const or noexcept first.
DEFINITION = re.compile(
    r"(?:\b(\w+)|\bauto\s+(\w+)\s*=\s*\[[^\]]*\])\s*\(([^()]*)\)\s*(?:const\s*)?(?:noexcept\s*)?"
    r"(?:->\s*[\w:<>&*\s]+)?\{")
TEXT_TYPE = re.compile(r"(?:const\s+char\s*\*|std::string\s*&|std::string)\s*(\w+)\s*$")
NOT_NAMES = {"if", "for", "while", "switch", "catch", "return", "sizeof"}


def body_end(text, start):
    """Index just past the brace that closes the one at start."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i + 1
    return len(text)


def helpers(text):
    found = set()
    for m in DEFINITION.finditer(text):
        name = m.group(1) or m.group(2)
        if name in NOT_NAMES:
            continue
        body = text[m.end() - 1:body_end(text, m.end() - 1)]
        for index, parameter in enumerate(m.group(3).split(","), start=1):
            typed = TEXT_TYPE.search(parameter.split("=")[0].strip())
            if typed and re.search(r"\b_\(\s*%s\s*(?:\.c_str\(\)\s*)?\)" % typed.group(1), body):
                found.add((name, index))
    return found


def main():
    found = set()
    for path in sys.argv[1:]:
        with open(path, encoding="utf-8") as f:
            found |= helpers(f.read())
    for name, index in sorted(found):
        print("--keyword=%s:%d" % (name, index))


if __name__ == "__main__":
    main()
