#!/usr/bin/env python3
"""The page's words, checked without a browser: each message file read as a
translation platform reads it (translate-toolkit's ARB reader), with the
same messages and values as the English one, plural forms exactly as each
language's rules have them, a note for translators on every English message,
and the built page small enough.

Usage: test_messages.py PATCHER.HTML [unittest arguments]
"""
import html
import io
import json
import pathlib
import re
import subprocess
import sys
import unittest

from common import main, messages

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
                    for form in (forms(unit.target) or {"": unit.target}).values():  # every value in each form
                        self.assertEqual(values(form), values(english[key].target), key)
                    self.assertEqual(forms(unit.target) is None, forms(english[key].target) is None, key)
                    # Within the length the note gives, give or take a tenth, the values left out.
                    limit = re.search(r"at most about (\d+) characters", english[key].getnotes())
                    if limit and forms(unit.target) is None:
                        self.assertLessEqual(len(re.sub(r"\{\w+\}", "", unit.target)), int(limit[1]) * 1.1, key)

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
        # The build refuses a message that it could not show for every count.
        with self.assertRaises(SystemExit):
            plural("{n, plural, one{{n} byte}}")

    def test_every_english_message_tells_translators_where_it_shows(self):
        for key, unit in self.units["en"].items():
            with self.subTest(key):
                self.assertGreater(len(unit.getnotes()), 20)
                described = unit.metadata.get("placeholders", {})
                self.assertEqual(set(described), values(unit.target))
                self.assertTrue(all("example" in p for p in described.values()), described)

    def test_the_page_stays_small_and_holds_every_language(self):
        # One file to hand around and open offline: 120,000 bytes at most,
        # without the notes for translators; the notes shown without the
        # packed texts (no scripts, or a browser too old) in every language,
        # marked with it and its direction.
        page = pathlib.Path(PAGE).read_text(encoding="utf-8")
        self.assertLessEqual(len(page.encode()), 120_000)
        self.assertEqual([key for table in messages(PAGE).values() for key in table if key.startswith("@")], [])
        noscript = {m[1]: [html.unescape(m[3]), m[2]]
                    for m in re.finditer(r'<p class="status failed" lang="([^"]+)" dir="(\w+)">(.*?)</p>', page)}
        too_old = json.loads(re.search(r'id="too-old">(.*?)</script>', page)[1])
        for tag, raw in self.raw.items():
            arb, direction = json.loads(raw), "rtl" if tag == "ar" else "ltr"
            self.assertEqual([noscript.get(tag), too_old.get(tag)], [[arb["noscript"], direction], [arb["tooOld"], direction]])


if __name__ == "__main__":
    if sys.argv[1:] != ["--list"]:
        PAGE = sys.argv.pop(1)
    main(sys.modules[__name__], sys.argv[1:])
