#!/usr/bin/env python3
"""The page's texts, checked without a browser: every language's table has
every message of the English one, none empty, each with the same values to
fill in, and forms for counts only where they belong.

Usage: test_messages.py PATCHER.HTML [unittest arguments]
"""
import os
import re
import sys
import unittest

from common import main, messages

PAGE = None
FORMS = {"zero", "one", "two", "few", "many", "other"}  # a language's plural categories


def values(message):
    return {name for text in (message.values() if isinstance(message, dict) else [message])
            for name in re.findall(r"\{(\w+)\}", text)}


class Messages(unittest.TestCase):
    def test_every_table_has_every_message_with_the_same_values(self):
        tables = messages(PAGE)
        english = tables["en"]
        for language, table in tables.items():
            with self.subTest(language):
                self.assertEqual(sorted(set(table) ^ set(english)), [])  # missing or unknown
                for key, message in table.items():
                    self.assertEqual(values(message), values(english[key]), key)
                    forms = message if isinstance(message, dict) else {"": message}
                    self.assertTrue(all(t.strip() for t in forms.values()), key)
                    if isinstance(message, dict):  # counted: by n, with a form for any count
                        self.assertIn("n", values(message), key)
                        self.assertIn("other", message, key)
                        self.assertLessEqual(set(message), FORMS, key)
                        self.assertTrue(all("{n}" in t for t in message.values()), key)
                    else:
                        self.assertIsInstance(english[key], str, key)

    def test_the_page_stays_small(self):
        # One file to hand around and open offline: 120,000 bytes at most.
        self.assertLessEqual(os.path.getsize(PAGE), 120_000)


if __name__ == "__main__":
    if sys.argv[1:] != ["--list"]:
        PAGE = sys.argv.pop(1)
    main(sys.modules[__name__], sys.argv[1:])
