#!/usr/bin/env python3
"""The page's words, checked without a browser: each message file read as a
translation platform reads it (translate-toolkit's ARB reader), with the
same messages and values as the English one, plural forms exactly as each
language's rules have them, a note for translators on every English message,
and the built page small enough.

Usage: test_messages.py PATCHER.HTML [unittest arguments]
"""
import io
import json
import os
import pathlib
import re
import subprocess
import sys
import unittest

from common import main

PAGE = None
WEB = pathlib.Path(__file__).resolve().parent.parent / "web"
MESSAGES = WEB / "messages"
sys.path.insert(0, str(WEB))
from inline import plural  # noqa: E402
try:
    from translate.storage.jsonl10n import ARBJsonFile
except ImportError:
    ARBJsonFile = None


def forms(message):
    """An ICU plural message's forms, {form: text}, read as the build reads
    them; None for any other message."""
    found = plural(message)
    return found if isinstance(found, dict) else None


def values(message):
    return set(re.findall(r"\{(\w+)\}", " ".join((forms(message) or {"": message}).values())))


class Messages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if ARBJsonFile is None:
            raise unittest.SkipTest("translate-toolkit is not importable (translate-toolkit)")
        cls.raw = {f.stem: f.read_bytes() for f in sorted(MESSAGES.glob("*.arb"))}
        cls.files = {tag: ARBJsonFile(io.BytesIO(raw)) for tag, raw in cls.raw.items()}
        cls.units = {tag: {u.getid(): u for u in store.units if not u.isheader()} for tag, store in cls.files.items()}
        tags = json.dumps(list(cls.raw))
        cls.categories = json.loads(subprocess.run(
            ["node", "-e", f"console.log(JSON.stringify(Object.fromEntries({tags}.map(t => "
                           "[t, new Intl.PluralRules(t).resolvedOptions().pluralCategories]))))"],
            capture_output=True, text=True, check=True).stdout)

    def test_every_file_reads_as_a_platform_reads_it(self):
        english = self.units["en"]
        for tag, units in self.units.items():
            with self.subTest(tag):
                self.assertEqual(json.loads(self.raw[tag])["@@locale"], tag)
                self.assertEqual(list(units), list(english))  # missing, unknown or out of order
                # Written back by the reader, byte for byte what it read.
                self.assertEqual(bytes(self.files[tag]).decode(), self.raw[tag].decode())
                for key, unit in units.items():
                    self.assertTrue(unit.target.strip(), key)
                    self.assertEqual(values(unit.target), values(english[key].target), key)
                    self.assertEqual(forms(unit.target) is None, forms(english[key].target) is None, key)

    def test_counted_messages_have_the_forms_of_their_language(self):
        for tag, units in self.units.items():
            for key, unit in units.items():
                counted = forms(unit.target)
                if counted is None:
                    continue
                with self.subTest(f"{tag} {key}"):
                    # Exactly the language's categories, both ways, besides exact counts (=0).
                    self.assertEqual(sorted(f for f in counted if not f.startswith("=")),
                                     sorted(self.categories[tag]))
                    self.assertTrue(all("{n}" in text for text in counted.values()), counted)

    def test_every_english_message_tells_translators_where_it_shows(self):
        for key, unit in self.units["en"].items():
            with self.subTest(key):
                self.assertGreater(len(unit.getnotes()), 20)
                described = unit.metadata.get("placeholders", {})
                self.assertEqual(set(described), values(unit.target))
                self.assertTrue(all("example" in p for p in described.values()), described)

    def test_the_page_stays_small(self):
        # One file to hand around and open offline: 120,000 bytes at most.
        self.assertLessEqual(os.path.getsize(PAGE), 120_000)


if __name__ == "__main__":
    if sys.argv[1:] != ["--list"]:
        PAGE = sys.argv.pop(1)
    main(sys.modules[__name__], sys.argv[1:])
