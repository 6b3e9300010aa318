#!/usr/bin/env python3
"""Black-box tests of patcher.html, the same cases in each browser engine.

Usage: test_web.py ENGINE PATCHER.HTML [unittest arguments, e.g. a class name]
       ENGINE is chromium, firefox or webkit (see browsers.py)

The page is opened from disk, as a user who double-clicks it would. Every
case chooses a synthetic file made here, as a user would, and saves what the
page offers. Exits 77, with the reason, when the engine is missing, or when
every case it ran was skipped.
"""
import hashlib
import os
import random
import shutil
import sys
import tempfile
import time
import unittest

import browsers
from test_patcher import EXPECTED, REACH, Case, patched, test_classes

ENGINE = PAGE = None
LIMIT = 64 << 20  # the largest file the page takes
VERDICT = "ok|warn|failed"  # the status's classes once the page has decided


class Page(unittest.TestCase):
    NO_WEBASSEMBLY = False

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix=f"patcher-{ENGINE}-")
        cls.browser = browsers.ENGINES[ENGINE](cls.tmp, no_webassembly=cls.NO_WEBASSEMBLY)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        shutil.rmtree(cls.tmp)

    def setUp(self):
        self.open_page()

    def open_page(self, url=None):
        """A fresh page, and a fresh folder for the files the case makes."""
        self.dir = tempfile.mkdtemp(dir=self.tmp)
        self.browser.open(url or "file://" + PAGE)
        # Notes the type of every Blob the page hands out for saving.
        self.js("const make = URL.createObjectURL; window.__types = [];"
                "URL.createObjectURL = b => { window.__types.push(b.type); return make.call(URL, b); }")

    def js(self, body, *args):
        return self.browser.run(body, *args)

    def text(self, element_id):
        return self.js("return document.getElementById(arguments[0]).innerText", element_id).strip()

    def wait(self, body, what, seconds=60):
        deadline = time.time() + seconds
        while not self.js(body):
            if time.time() > deadline:
                self.fail(f"waited {seconds} s for {what}")
            time.sleep(0.05)

    def choose(self, name, data=None, size=None):
        """Chooses a new file of that name (data, or size zero bytes) and waits for the verdict."""
        path = os.path.join(tempfile.mkdtemp(dir=self.dir), name)
        with open(path, "wb") as f:
            if data is not None:
                f.write(data)
            else:
                f.truncate(size)
        return self.choose_path(path)

    def choose_path(self, path):
        self.js("document.getElementById('status').className = ''")
        self.browser.choose(path)
        return self.verdict()

    def verdict(self):
        """Waits for the page to decide on the file; returns what its status says."""
        self.wait(f"return /\\b({VERDICT})\\b/.test(document.getElementById('status').className)",
                  "the page's verdict")
        return self.text("status")

    def status_kind(self):
        return self.js(f"return document.getElementById('status').className.match(/{VERDICT}/)[0]")

    def offered(self):
        return self.js("return !document.getElementById('result').hidden")

    def save(self, how=None):
        """Saves what the page offers (a click, or how); returns the name and bytes that arrived."""
        folder = self.browser.downloads
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
        (how or (lambda: self.browser.click("save")))()
        deadline, last = time.time() + 30, None
        while time.time() < deadline:
            names = [n for n in os.listdir(folder)
                     if not n.endswith((".crdownload", ".part", ".download", ".wkdownload"))]
            if len(names) == 1:
                path = os.path.join(folder, names[0])
                size = os.path.getsize(path)
                if size == last:
                    with open(path, "rb") as f:
                        return names[0], f.read()
                last = size
            time.sleep(0.1)
        self.fail("nothing was saved")

    def saved_anything(self):
        return os.listdir(self.browser.downloads) != []

    def column(self, index):
        return self.js("return Array.from(document.querySelectorAll('#changes tr'),"
                       " r => r.children[arguments[0]].innerText.trim())", index)

    DROP = ("const files = arguments[0].map(([name, size]) => new File([new Uint8Array(size).fill(255)], name));"
            "const data = new DataTransfer(); files.forEach(f => data.items.add(f));"
            "document.getElementById('status').className = '';"
            "document.getElementById('drop').dispatchEvent("
            "  new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));")

    def drop(self, *files):
        self.js(self.DROP, [list(f) for f in files])
        return self.verdict()

    assert_same_bytes = Case.assert_same_bytes


class Patch(Page):
    def test_the_saved_file_is_the_patched_image(self):
        rng = random.Random(7)
        ff = "\\xFF"
        lengths = [len(t) + 3 for _, t in EXPECTED]
        cut = 0x1157AA + 6  # ends 6 bytes into record 3
        cases = {
            # name: (chosen name, bytes, Before column or None to skip it)
            "0xFF, 2 MiB": ("DUKE3D.EXE", b"\xff" * (2 << 20), [ff * n for n in lengths]),
            "random, past the reach": ("DUKE3D.EXE", rng.randbytes(REACH + 3000), None),
            "empty": ("DUKE3D.EXE", b"",
                      [f"(all {n} bytes past the end of the file)" for n in lengths]),
            "ends inside record 3": ("DUKE3D.EXE", b"\xff" * cut,
                                     [ff * n for n in lengths[:2]] +
                                     [ff * 6 + " (10 bytes past the end of the file)"] +
                                     [f"(all {n} bytes past the end of the file)" for n in lengths[3:]]),
            "another name": ("duke3d-copy.exe", b"\xff" * (REACH + 1), None),
        }
        for case, (name, before, was) in cases.items():
            with self.subTest(case):
                self.open_page()
                status = self.choose(name, before)
                want = patched(before)
                short = len(before) < REACH
                # A short file is patched, but shown as a doubt, not a success.
                self.assertEqual(self.status_kind(), "warn" if short else "ok", status)
                self.assertEqual("Check that this is the right file" in status, short, status)
                self.assertEqual(f"{name} is patched" in status, not short, status)
                self.assertEqual("quiet" in self.js("return document.getElementById('save').className"),
                                 short)
                self.assertEqual(self.text("chosen"), f"Working on: {name} ({len(before):,} bytes)")
                self.assertEqual(self.text("sum-before"), hashlib.sha256(before).hexdigest())
                self.assertEqual(self.text("sum-after"), hashlib.sha256(want).hexdigest())
                self.assertEqual(self.column(0), [f"0x{o:X}" for o, _ in EXPECTED])
                self.assertEqual(self.column(2), [t.decode() + "\\0\\0\\0" for _, t in EXPECTED])
                if was:
                    self.assertEqual(self.column(1), was)
                saved_name, saved = self.save()
                self.assertEqual(saved_name, name)
                self.assert_same_bytes(saved, want)
                self.assertEqual(self.js("return window.__types"), ["application/octet-stream"])


class Repeat(Page):
    def test_a_patched_file_comes_back_unchanged(self):
        first = self.choose("DUKE3D.EXE", b"\xff" * (REACH + 500))
        self.assertNotIn("already patched", first)
        _, once = self.save()
        second = self.choose("DUKE3D.EXE", once)
        # Said so, and not urged to replace anything.
        self.assertIn("already patched", second)
        self.assertNotIn("Replace", self.text("result"))
        self.assertIn("quiet", self.js("return document.getElementById('save').className"))
        self.assertEqual(self.text("sum-before"), self.text("sum-after"))
        _, twice = self.save()
        self.assert_same_bytes(twice, once)

    def test_the_same_file_chosen_again_is_read_afresh(self):
        # Patched, then put back from the backup on disk, then chosen again.
        path = os.path.join(self.dir, "DUKE3D.EXE")
        for before in [b"\xff" * (REACH + 1), b"\x00" * (REACH + 2), b"\xff" * (REACH + 1)]:
            with open(path, "wb") as f:
                f.write(before)
            self.choose_path(path)
            self.assertEqual(self.text("sum-before"), hashlib.sha256(before).hexdigest())
            self.assert_same_bytes(self.save()[1], patched(before))


class TooLarge(Page):
    def test_a_file_over_the_limit_is_refused_and_the_page_goes_on(self):
        status = self.choose("DUKE3D.EXE", size=LIMIT + 1)
        self.assertIn("too large", status)
        self.assertIn("up to 64 MiB", status)
        self.assertEqual(self.status_kind(), "failed")
        self.assertFalse(self.offered())
        self.assertFalse(self.saved_anything())

        # The very next files work: one at the limit, then an ordinary one.
        self.assertIn("is patched", self.choose("DUKE3D.EXE", size=LIMIT))
        before = b"\xff" * (REACH + 10)
        self.assertIn("is patched", self.choose("DUKE3D.EXE", before))
        self.assert_same_bytes(self.save()[1], patched(before))


class Failure(Page):
    # The program's next file is made read-only before it runs, so its open
    # fails inside the page as on a disk that refuses the write.
    BREAK = ("const make = window.createPatcher;"
             "window.createPatcher = options => make(options).then(program => {"
             "  const write = program.FS.writeFile;"
             "  program.FS.writeFile = (path, data) => {"
             "    write(path, data); program.FS.chmod(path, 0o444); program.FS.writeFile = write; };"
             "  return program; })")

    def test_a_folder_is_not_patched(self):
        if ENGINE == "firefox":
            self.skipTest("Firefox's file input takes no folder")
        folder = os.path.join(self.dir, "DUKE3D.EXE")
        os.mkdir(folder)
        status = self.choose_path(folder)
        self.assertIn("could not be read", status)
        self.assertFalse(self.offered())

    def test_a_failing_program_offers_nothing_and_the_next_file_works(self):
        self.js(self.BREAK)
        status = self.choose("DUKE3D.EXE", b"\xff" * (REACH + 1))
        self.assertEqual(self.status_kind(), "failed", status)
        self.assertIn("could not write", status)
        self.assertIn("exit status -1", status)
        self.assertFalse(self.offered())
        before = b"\xff" * (REACH + 2)
        self.assertIn("is patched", self.choose("DUKE3D.EXE", before))
        self.assert_same_bytes(self.save()[1], patched(before))


class Drop(Page):
    def test_one_file_is_patched_and_several_or_none_are_refused(self):
        self.assertIn("is patched", self.drop(("DUKE3D.EXE", REACH + 1)))
        self.assertEqual(self.text("chosen"), f"Working on: DUKE3D.EXE ({REACH + 1:,} bytes)")
        self.assert_same_bytes(self.save()[1], patched(b"\xff" * (REACH + 1)))

        status = self.drop(("DUKE3D.EXE", REACH + 1), ("DUKE3D.BAK", REACH + 1))
        self.assertEqual(self.status_kind(), "warn", status)
        self.assertIn("dropped 2 files", status)
        self.assertIn("Drop just one file", status)
        self.assertIn("DUKE3D.BAK", self.text("chosen"))
        self.assertFalse(self.offered())

        # A link or some text, dragged from another page.
        status = self.drop()
        self.assertEqual(self.status_kind(), "warn", status)
        self.assertIn("not a file", status)
        self.assertFalse(self.offered())


class NoWebAssembly(Page):
    # As in browsers whose hardened modes switch WebAssembly off.
    NO_WEBASSEMBLY = True

    def test_a_browser_without_webassembly_is_told_so(self):
        self.assertEqual(self.js("return typeof WebAssembly"), "undefined")
        status = self.choose("DUKE3D.EXE", b"\xff" * REACH)
        self.assertIn("could not run the patcher", status)
        self.assertFalse(self.offered())


class Offline(Page):
    def test_the_page_asks_for_nothing_from_disk_or_served(self):
        server = browsers.Recorder(PAGE)
        self.addCleanup(server.close)
        for url in ["file://" + PAGE, server.url]:
            with self.subTest(url):
                self.open_page(url)
                self.choose("DUKE3D.EXE", b"\xff" * (REACH + 1))
                self.save()
                asked = [u for u in self.browser.requests()
                         if u != url and not u.startswith(("blob:", "data:"))]
                self.assertEqual(asked, [])
                self.assertEqual(self.js("return performance.getEntriesByType('resource').length"), 0)
                self.assertEqual(self.browser.errors(), [])
        self.assertEqual(server.seen, ["/patcher.html"])


class Keyboard(Page):
    def test_tab_reaches_the_chooser_then_the_save_button_and_leaves_it(self):
        def focused():
            return self.js("return document.activeElement.id")

        before = b"\xff" * REACH
        for key in ["Enter", "Space"]:
            with self.subTest(key):
                self.open_page()
                self.browser.press("Tab")
                self.assertEqual(focused(), "file")
                self.assertIn("Choose your DUKE3D.EXE", self.text("drop"))
                self.choose("DUKE3D.EXE", before)
                # Back from the file dialog, the focus is on the chooser again.
                self.js("document.getElementById('file').focus()")
                self.browser.press("Tab")
                self.assertEqual(focused(), "save")
                # Both targets big enough for a finger, as this engine lays them out.
                self.assertGreaterEqual(self.js(
                    "return Math.min(...['file', 'save'].map("
                    "  id => document.getElementById(id).getBoundingClientRect().height))"), 44)
                self.assert_same_bytes(self.save(lambda: self.browser.press(key))[1], patched(before))
                self.browser.press("Tab")
                self.assertNotEqual(focused(), "save")


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print(*test_classes(sys.modules[__name__]), sep=";")
        sys.exit(0)
    ENGINE, PAGE = sys.argv[1], os.path.abspath(sys.argv[2])
    why = browsers.missing(ENGINE)
    if why:
        print(f"skipped: {why}")
        sys.exit(77)
    result = unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun == len(result.skipped) else 0)
