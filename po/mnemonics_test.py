#!/usr/bin/env python3
"""Feeds po/mnemonics.py small catalogues, sound and broken, and checks that it
passes the sound ones and fails each broken one with its reason.

    po/mnemonics_test.py
"""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

# (language, msgid, msgstr, what the checker says; None when it passes)
CASES = [
    ("de", "_Location", "_Ort", None),
    ("de", "_Location", "Speicherort", "lost the mnemonic"),
    ("de", "_Location", "Speicher__ort", "lost the mnemonic"),
    ("de", "_Open", "_Öffnen", None),
    ("ja", "_Location", "場所(_L)", None),
    ("ja", "_Location", "_場所", "which Alt cannot type"),
    ("ja", "_Location", "場所(_Ｌ)", "which Alt cannot type"),
    ("ja", "GOOD_IN_FAT", "GOOD_IN_FAT", None),
    ("ja", "_Location", "", None),
]


def check(lang, msgid, msgstr):
    catalogue = (
        'msgid ""\nmsgstr ""\n"Language: %s\\n"\n"Content-Type: text/plain; charset=UTF-8\\n"\n\n'
        'msgid "%s"\nmsgstr "%s"\n' % (lang, msgid, msgstr))
    with tempfile.NamedTemporaryFile("w", suffix=".po", encoding="utf-8", delete=False) as f:
        f.write(catalogue)
    try:
        return subprocess.run([sys.executable, os.path.join(HERE, "mnemonics.py"), f.name],
                              capture_output=True, text=True)
    finally:
        os.unlink(f.name)


class MnemonicsTest(unittest.TestCase):
    def test_each_catalogue(self):
        for lang, msgid, msgstr, says in CASES:
            with self.subTest(lang=lang, msgstr=msgstr):
                result = check(lang, msgid, msgstr)
                self.assertEqual(result.returncode, 0 if says is None else 1, result.stderr)
                if says is not None:
                    self.assertIn(says, result.stderr)


if __name__ == "__main__":
    unittest.main()
