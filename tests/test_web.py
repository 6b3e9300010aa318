#!/usr/bin/env python3
"""Black-box tests of patcher.html, the same cases in each browser engine.

Usage: test_web.py chromium|firefox|webkit PATCHER.HTML [unittest arguments, e.g. a class name]

The page is opened from disk, as by a double click. Every case chooses a
synthetic file made here and saves what the page offers. Exits 77, with
the reason, when the engine is missing.
"""
import hashlib
import os
import random
import sys

import browsers
from browsers import Page
from common import EXPECTED, LIMIT, REACH, image, main, messages, patched


class Patch(Page):
    def test_the_saved_file_is_the_patched_image(self):
        rng = random.Random(7)
        ff = "\\xFF"
        lengths = [len(t) + 3 for _, t in EXPECTED]
        cut = 0x1157AA + 6  # ends 6 bytes into record 3
        bell = bytearray(image(REACH + 1))
        bell[0x1157AA + 3] = 0x07  # one control byte, in record 3 only
        text = [ff * n for n in lengths]
        cases = {
            # name: (chosen name, bytes, Before column or None to skip it,
            #        the checks the page says failed)
            "a program, 2 MiB": ("DUKE3D.EXE", image(2 << 20), text, []),
            "random, past the reach": ("DUKE3D.EXE", rng.randbytes(REACH + 3000), None, ["MZ", "other than text"]),
            "one place not text": ("DUKE3D.EXE", bytes(bell),
                                   text[:2] + [ff * 3 + "\\x07" + ff * 12 + " (not text)"] + text[3:], ["other than text"]),
            "not a program": ("DUKE3D.EXE", b"\xff" * (REACH + 1), text, ["MZ"]),
            "empty": ("DUKE3D.EXE", b"",
                      [f"(all {n} bytes past the end of the file)" for n in lengths], ["MZ", "too short"]),
            "ends inside record 3": ("DUKE3D.EXE", image(cut),
                                     text[:2] + [ff * 6 + " (10 bytes past the end of the file)"] +
                                     [f"(all {n} bytes past the end of the file)" for n in lengths[3:]], ["too short"]),
            "another name": ("duke3d-copy.exe", image(REACH + 1), None, []),
            "the name in lower case": ("duke3d.exe", image(REACH + 1), None, []),
        }
        for case, (name, before, was, doubts) in cases.items():
            with self.subTest(case):
                self.open_page()
                status = self.choose(name, before)
                want = patched(before)
                # A doubtful file is patched, but shown as a doubt, and saved
                # only once the player says it is the right one.
                self.assertEqual(self.status_kind(), "warn" if doubts else "ok", status)
                for words in doubts:
                    self.assertIn(words, status)
                self.assertEqual("Check that this is the right file" in status, bool(doubts), status)
                self.assertEqual("Your patched copy is ready" in status, not doubts, status)
                self.assertEqual("is called" in status, name.upper() != "DUKE3D.EXE", status)
                self.assertEqual(self.save_button(), ("save quiet", f"Save the patched copy anyway ({name})")
                                 if doubts else ("save", f"Save the patched file ({name})"))
                self.assertEqual(self.js("return document.getElementById('save').disabled"), bool(doubts))
                self.assertIn("DUKE3D(1).EXE", self.text("save-note"))
                self.assertEqual(self.text("chosen"), f"Chosen: {name} ({len(before):,} bytes)")
                self.assertEqual(self.text("sum-before"), hashlib.sha256(before).hexdigest())
                self.assertEqual(self.text("sum-after"), hashlib.sha256(want).hexdigest())
                self.assertEqual(self.column(0), [f"0x{o:X}" for o, _ in EXPECTED])
                self.assertEqual(self.column(2), [t.decode() + "\\0\\0\\0" for _, t in EXPECTED])
                if was:
                    self.assertEqual(self.column(1), was)
                if doubts:
                    self.browser.click("sure")
                self.assertEqual(self.save(want), name)
                self.assertEqual(self.js("return window.__types"), ["application/octet-stream"])


class Repeat(Page):
    def test_a_patched_file_comes_back_unchanged(self):
        once = patched(image(REACH + 500))
        first = self.choose("DUKE3D.EXE", image(REACH + 500))
        self.assertNotIn("already patched", first)
        self.save(once)
        second = self.choose("DUKE3D.EXE", once)
        # Said so, and not urged to replace anything.
        self.assertIn("already patched", second)
        self.assertNotIn("Replace", self.text("result"))
        self.assertEqual(self.save_button(), ("save quiet", "Save a copy anyway (DUKE3D.EXE)"))
        self.assertEqual(self.text("sum-before"), self.text("sum-after"))
        self.save(once)

    def test_the_same_file_chosen_again_is_read_afresh(self):
        # Patched, then put back from the backup on disk, then chosen again.
        path = os.path.join(self.dir, "DUKE3D.EXE")
        for before in [image(REACH + 1), image(REACH + 2), image(REACH + 1)]:
            with open(path, "wb") as f:
                f.write(before)
            self.choose_path(path)
            self.assertEqual(self.text("sum-before"), hashlib.sha256(before).hexdigest())
            self.save(patched(before))

    def test_a_newer_choice_wins_over_an_older_one_still_running(self):
        # The older file's run is held until the newer one's verdict is
        # shown, as a large file read slowly would be.
        older, newer = image(REACH + 7), image(REACH + 1)
        self.js("const [held] = arguments, run = runPatcher, show = showResult; let release;"
                "const gate = new Promise(r => release = r);"
                "runPatcher = async bytes => { if (bytes.length === held) await gate; return run(bytes); };"
                "showResult = (...args) => { show(...args); release(); };", len(older))
        self.browser.choose(self.write("DUKE3D.EXE", older))
        self.choose("DUKE3D.EXE", newer)
        self.assertEqual(self.text("chosen"), f"Chosen: DUKE3D.EXE ({len(newer):,} bytes)")
        self.assertEqual(self.text("sum-before"), hashlib.sha256(newer).hexdigest())
        self.save(patched(newer))


class TooLarge(Page):
    def test_a_file_over_the_limit_is_refused_and_the_page_goes_on(self):
        status = self.choose("DUKE3D.EXE", size=LIMIT + 1)
        self.assertIn("too large", status)
        self.assertIn("up to 64 MiB", status)
        self.assert_refused(status)
        self.assertEqual(os.listdir(self.browser.downloads), [])

        # The very next files work: one at the limit, then an ordinary one.
        self.assertIn("copy is ready", self.choose("DUKE3D.EXE", image(LIMIT)))
        before = image(REACH + 10)
        self.assertIn("copy is ready", self.choose("DUKE3D.EXE", before))
        self.save(patched(before))


class Failure(Page):
    def test_a_folder_is_not_patched(self):
        if self.browser.name == "firefox":
            self.skipTest("Firefox's file input takes no folder")
        folder = os.path.join(self.dir, "DUKE3D.EXE")
        os.mkdir(folder)
        status = self.choose_path(folder)
        self.assertIn("could not be read", status)
        self.assert_refused(status)

    def test_a_failing_program_offers_nothing_and_the_next_file_works(self):
        for case, (script, said) in browsers.BREAKS.items():
            with self.subTest(case):
                self.open_page()
                self.js(script)
                status = self.choose("DUKE3D.EXE", image(REACH + 1))
                for words in said:
                    self.assertIn(words, status)
                self.assert_refused(status)
                before = image(REACH + 2)
                self.assertIn("copy is ready", self.choose("DUKE3D.EXE", before))
                self.save(patched(before))


class Drop(Page):
    def test_one_file_is_patched_and_several_or_none_are_refused(self):
        self.assertIn("copy is ready", self.drop(("DUKE3D.EXE", REACH + 1)))
        self.assertEqual(self.text("chosen"), f"Chosen: DUKE3D.EXE ({REACH + 1:,} bytes)")
        self.save(patched(image(REACH + 1)))

        cases = {  # what is dropped: (what the page says, what it names as dropped)
            "two files": ((("DUKE3D.EXE", REACH + 1), ("DUKE3D.BAK", REACH + 1)), "dropped 2 files", "DUKE3D.BAK"),
            "a link or some text, from another page": ((), "not a file", "no file"),
        }
        for case, (files, said, named) in cases.items():
            with self.subTest(case):
                status = self.drop(*files)
                self.assertEqual(self.status_kind(), "warn", status)
                self.assertIn(said, status)
                self.assertIn("Drop just one file", status)
                self.assertIn(named, self.text("chosen"))
                self.assertFalse(self.offered())


class NoWebAssembly(Page):
    # As in browsers whose hardened modes switch WebAssembly off.
    NO_WEBASSEMBLY = True

    def test_a_browser_without_webassembly_is_told_so(self):
        self.assertEqual(self.js("return typeof WebAssembly"), "undefined")
        status = self.choose("DUKE3D.EXE", image(REACH))
        self.assertIn("could not run the patcher", status)
        self.assert_refused(status)


class Offline(Page):
    def test_the_page_asks_for_nothing_from_disk_or_served(self):
        server = browsers.Recorder(self.page)
        self.addCleanup(server.close)
        cases = {
            # how it is opened: (address, what the browser lacks there)
            "from disk": ("file://" + self.page, None),
            "served": (server.url, None),
            # Served over plain http from another machine, a page gets no hashing.
            "served, no hashing": (server.url, "Object.defineProperty(crypto, 'subtle', {value: undefined})"),
        }
        for case, (url, lacks) in cases.items():
            with self.subTest(case):
                self.open_page(url)
                self.assertRegex(self.js("return document.body.innerText"), r"\bpatcher \d+\.\d+\.\d+,")
                # In English where the browser's language is not the page's: in
                # WebKit, the C library's locale, named C here, which is no tag.
                self.assertEqual(self.js("return [document.documentElement.lang, navigator.languages[0]]"),
                                 ["en", "C" if self.browser.name == "webkit" else "en-US"])
                if lacks:
                    self.js(lacks)
                before = image(REACH + 1)
                self.choose("DUKE3D.EXE", before)
                self.assertEqual("not available" in self.text("sum-before"), bool(lacks))
                self.save(patched(before))
                asked = [u for u in self.browser.requests()
                         if u != url and not u.startswith(("blob:", "data:"))]
                self.assertEqual(asked, [])
                self.assertEqual(self.js("return performance.getEntriesByType('resource').length"), 0)
                self.assertEqual(self.browser.errors(), [])
                # Nothing may be sent even to the host that served the page.
                self.assertEqual(self.js("return fetch('/probe').then(() => 'sent', () => 'refused')"),
                                 "refused")
        self.assertEqual(server.seen, ["/patcher.html"] * 2)


class InPlace(Page):
    """The game's folder, patched where it is in a browser that may write
    there (Chromium); in the others only the copy is offered."""

    def test_the_folder_is_patched_in_place_with_a_backup_beside_it(self):
        if self.browser.name != "chromium":
            self.assertFalse(self.js("return document.getElementById('folder').offsetParent !== null"))
            return
        good, odd, changed = image(REACH + 100), random.Random(3).randbytes(REACH), image(REACH + 101)
        ready = "Nothing is written yet"
        cases = {
            # case: (the folder's files, how it is opened, what the verdict says, then what
            #        the status says after the button (None: no button), the backup it wrote)
            "patched in place": ({"DUKE3D.EXE": good, "GAME.CON": b"con"}, "drop", ready, "in place", "DUKE3D.BAK"),
            "chosen with the picker": ({"DUKE3D.EXE": good}, "pick", ready, "as DUKE3D.BAK.", "DUKE3D.BAK"),
            "another DUKE3D.BAK kept": ({"DUKE3D.EXE": good, "DUKE3D.BAK": b"old"}, "drop", ready, "DUKE3D-2.BAK",
                                        "DUKE3D-2.BAK"),
            "the backup already there": ({"DUKE3D.EXE": good, "DUKE3D.BAK": good}, "drop", ready, "already kept", None),
            "a doubtful file, confirmed": ({"DUKE3D.EXE": odd}, "drop", "other than text", "in place", "DUKE3D.BAK"),
            "the name in lower case": ({"duke3d.exe": good}, "pick", "called duke3d.exe", "in place", "DUKE3D.BAK"),
            "changed on disk since": ({"DUKE3D.EXE": good}, "drop", ready, "has changed on disk", None),
            "permission refused": ({"DUKE3D.EXE": good}, "private", ready, "not allowed", None),
            "already patched": ({"DUKE3D.EXE": patched(good)}, "drop", "already patched", None, None),
            "no DUKE3D.EXE": ({"GAME.CON": b"con"}, "drop", "There is no DUKE3D.EXE in the folder GAME", None, None),
        }
        for case, (files, how, verdict, said, backup) in cases.items():
            with self.subTest(case):
                self.open_page(writable=how != "private")
                folder = self.folder(files)
                if how == "pick":  # the picker answers with the folder a drop hands over
                    self.js("addEventListener('drop', e => { e.stopImmediatePropagation(); e.preventDefault();"
                            " const folder = e.dataTransfer.items[0].getAsFileSystemHandle();"
                            " window.showDirectoryPicker = () => folder; }, { capture: true, once: true })")
                    self.browser.drop([str(folder)])
                self.assertIn(verdict, self.verdict(lambda: self.browser.click("folder") if how == "pick"
                                                    else self.browser.drop([str(folder)])))
                self.assertEqual(self.js("return !document.getElementById('result').hidden &&"
                                         " !document.getElementById('write').hidden"), said is not None)
                want = dict(files)
                if said:
                    name = next(n for n in files if n.upper() == "DUKE3D.EXE")
                    self.assertEqual(self.js("return document.getElementById('write').disabled"), files[name] == odd)
                    if files[name] == odd:
                        self.browser.click("sure")
                    if case == "changed on disk since":
                        want[name] = changed
                        (folder / name).write_bytes(changed)
                    self.assertIn(said, self.verdict(lambda: self.browser.click("write")))
                    if self.status_kind() == "ok":
                        want.update({name: patched(files[name]), **({backup: files[name]} if backup else {})})
                        self.assertEqual(self.text("sum-after"), hashlib.sha256(want[name]).hexdigest())
                    else:  # the file as it was, and the copy still offered
                        self.assertRegex(self.text("status"), "unchanged|Nothing was written")
                        self.assertIn("save a patched copy", self.text("drop"))
                # Every file in the folder, by name and bytes: no swap file left.
                self.assertEqual(sorted(f.name for f in folder.iterdir()), sorted(want))
                for name, data in want.items():
                    self.assert_same_bytes((folder / name).read_bytes(), data)


class Language(Page):
    """The page in the reader's language, set in the browser, and in
    others chosen on the page while a verdict is on screen."""
    LANGUAGES = ["de-DE", "de"]

    def test_the_page_speaks_the_readers_language_then_the_one_chosen(self):
        say = messages(self.page)

        def shown():
            return self.js("return [document.documentElement.lang, location.hash, document.title]")
        self.assertEqual(self.js("return navigator.languages[0]"), "de-DE")
        self.assertEqual(shown(), ["de", "", say["de"]["title"]])
        self.assertIn(self.text("status"), [say["de"]["nothingYet"], say["de"]["nothingYetFolder"]])
        self.assertEqual(self.choose("DUKE3D.EXE", image(REACH + 1)), say["de"]["copyReady"].format(name="DUKE3D.EXE"))
        self.assertEqual(self.text("chosen"), "Gewählt: DUKE3D.EXE (1.136.663 Bytes)")
        for language, chosen in [("pl", "Wybrano: DUKE3D.EXE (1 136 663 bajty)"),
                                 ("ru", "Выбран: DUKE3D.EXE (1 136 663 байта)")]:
            with self.subTest(language):
                self.speak(language)
                self.assertEqual(shown(), [language, "#lang=" + language, say[language]["title"]])
                self.assertEqual(self.text("status"), say[language]["copyReady"].format(name="DUKE3D.EXE"))
                self.assertEqual(self.text("chosen").replace("\u00a0", " "), chosen)
                self.assertTrue(self.offered())
        # A message a table lacks is shown in English.
        self.js("delete messages.ru.copyReady")
        self.speak("ru")
        self.assertEqual(self.text("status"), say["en"]["copyReady"].format(name="DUKE3D.EXE"))
        # The address keeps the choice, over the browser's language.
        self.open_page(f"file://{self.page}#lang=pl")
        self.assertEqual(shown(), ["pl", "#lang=pl", say["pl"]["title"]])


class Keyboard(Page):
    def test_tab_reaches_the_chooser_then_the_save_button_and_leaves_it(self):
        def focused():
            return self.js("return document.activeElement.id")

        before = image(REACH)
        # The language first; the folder before the file where the page can patch in place.
        chooser = ["lang", "folder", "file"] if self.browser.name == "chromium" else ["lang", "file"]
        for key in ["Enter", "Space"]:
            with self.subTest(key):
                self.open_page()
                for target in chooser:
                    self.browser.press("Tab")
                    self.assertEqual(focused(), target)
                self.assertIn("choose your duke3d.exe", self.text("drop").lower())
                self.choose("DUKE3D.EXE", before)
                # Back from the file dialog, the focus is on the chooser again.
                self.js("document.getElementById('file').focus()")
                self.browser.press("Tab")
                self.assertEqual(focused(), "save")
                # Every target big enough for a finger, as this engine lays
                # them out, also where the reader's text is small.
                for font in ["16px", "12px"]:
                    self.assertGreaterEqual(self.js(
                        "document.documentElement.style.fontSize = arguments[0];"
                        "return Math.min(...arguments[1].map("
                        "  id => document.getElementById(id).getBoundingClientRect().height))",
                        font, chooser + ["save"]), 44, font)
                self.save(patched(before), lambda: self.browser.press(key))
                self.browser.press("Tab")
                self.assertNotEqual(focused(), "save")
        # Screen readers announce each verdict as it comes.
        self.assertEqual(self.js("const s = document.getElementById('status');"
                                 "return [s.getAttribute('role'), s.getAttribute('aria-live')]"),
                         ["status", "polite"])

    def test_a_narrow_screen_with_large_text_scrolls_only_down(self):
        # 320 pixels wide, the text at 200 %: a verdict with every part of
        # the page fits the width in every language, and the checkbox and the
        # language's control stay a finger's target.
        self.js("document.documentElement.style.width = '320px'; document.documentElement.style.fontSize = '32px'")
        self.choose("DUKE3D.EXE", random.Random(5).randbytes(REACH))
        for language in messages(self.page):
            with self.subTest(language):
                self.speak(language)
                self.assertLessEqual(self.js("return document.body.scrollWidth"), 320)
                self.assertGreaterEqual(self.js("return Math.min(...['.sure', '#lang'].map("
                                                "  s => document.querySelector(s).getBoundingClientRect().height))"), 44)
        # On a phone-sized screen, the verdict and its button are brought into view.
        self.browser.resize(360, 740)
        self.addCleanup(self.browser.resize, 1280, 900)
        self.open_page()
        self.choose("DUKE3D.EXE", random.Random(5).randbytes(REACH))
        self.assertLessEqual(self.js("return document.getElementById('save').getBoundingClientRect().bottom"),
                             self.js("return innerHeight"))


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        main(sys.modules[__name__], ["--list"])
    if why := Page.use(*sys.argv[1:3]):
        print(f"skipped: {why}")
        sys.exit(77)
    main(sys.modules[__name__], sys.argv[3:])
