#!/usr/bin/env python3
"""Black-box tests of patcher.html, the same cases in each browser engine.

Usage: test_web.py chromium|firefox|webkit PATCHER.HTML [unittest arguments, e.g. a class name]

The page is opened from disk, as by a double click. Every case chooses a
synthetic file made here and saves what the page offers. Exits 77, with
the reason, when the engine is missing.
"""
import hashlib
import os
import pathlib
import random
import re
import subprocess
import sys
import tempfile

import browsers
from browsers import Page
from common import EXPECTED, LIMIT, REACH, image, main, messages, old, patched, with_messages


class Patch(Page):
    def test_the_saved_file_is_the_patched_image(self):
        rng = random.Random(7)
        lengths = [len(t) + 3 for _, t in EXPECTED]
        cut = 0x1157AA + 6  # ends 6 bytes into record 3
        bell = bytearray(image(REACH + 1))
        bell[0x1157AA + 3] = 0x07  # one control byte, in record 3 only
        text = [old(i) for i in range(len(EXPECTED))]
        # One page for them all, each case a new choice after the last: a
        # doubtful file's box starts unticked whatever the one before had.
        cases = {
            # name: (chosen name, bytes, Before column or None to skip it,
            #        the checks the page says failed)
            "a program, 2 MiB": ("DUKE3D.EXE", image(2 << 20), text, []),
            "starts MX": ("DUKE3D.EXE", b"MX" + image(REACH + 1)[2:], text, ["MZ"]),
            "random, past the reach": ("DUKE3D.EXE", rng.randbytes(REACH + 3000), None, ["MZ", "other than text"]),
            "one place not text": ("DUKE3D.EXE", bytes(bell),
                                   text[:2] + ["NAM\\x07" + text[2][4:] + " (not text)"] + text[3:], ["other than text"]),
            "not a program": ("DUKE3D.EXE", b"\xff\xff" + image(REACH + 1)[2:], text, ["MZ"]),
            "empty": ("DUKE3D.EXE", b"",
                      [f"(all {n} bytes past the end of the file)" for n in lengths], ["MZ", "too short"]),
            "ends inside record 3": ("DUKE3D.EXE", image(cut),
                                     text[:2] + ["NAME 3 (10 bytes past the end of the file)"] +
                                     [f"(all {n} bytes past the end of the file)" for n in lengths[3:]], ["too short"]),
            "another name": ("duke3d-copy.exe", image(REACH + 1), None, []),
            "a copy saved twice": ("DUKE3D(1).EXE", image(REACH + 1), None, []),
            "the name in lower case": ("duke3d.exe", image(REACH + 1), None, []),
        }
        for case, (name, before, was, doubts) in cases.items():
            with self.subTest(case):
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
                                 if doubts else ("save", f"Save the patched copy ({name})"))
                self.assertEqual(self.js("return document.getElementById('save').disabled"), bool(doubts))
                self.assertIn("a number added to its name", self.text("save-note"))
                self.assertEqual(self.text("chosen"), f"Chosen: {name}, {len(before):,} bytes")
                # A file's name is kept whole, on one line, as is a number with its unit.
                self.assertEqual(self.js("return Array.from(document.querySelectorAll('#chosen .name, #chosen .size'),"
                                         " e => [e.className, e.textContent])"), [["name", name], ["size", f"{len(before):,} bytes"]])
                self.assertEqual(self.text("sum-before"), hashlib.sha256(before).hexdigest())
                self.assertEqual(self.text("sum-after"), hashlib.sha256(want).hexdigest())
                self.assertEqual(self.column(0), [f"0x{o:X}" for o, _ in EXPECTED])
                self.assertEqual(self.column(2), [t.decode() + "\\0\\0\\0" for _, t in EXPECTED])
                if was:
                    self.assertEqual(self.column(1), was)
                if doubts:
                    self.browser.click("sure")
                self.assertEqual(self.save(want), name)
        self.assertEqual(set(self.js("return window.__types")), {"application/octet-stream"})


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
        self.assertEqual(self.text("checksum-note"), "")  # no original among them to compare
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
        # The older choice is held after its last read, as a large file read
        # slowly would be, until the newer one's verdict is shown; then it
        # goes on, and is over once no checksum it may compute is pending.
        older, newer = image(REACH + 7), image(REACH + 1)
        cases = {  # case: how the older is chosen, its read to hold after
            "a file read slowly": (lambda: self.browser.choose(self.write("DUKE3D.EXE", older)), 1),
            # In its folder, the file is read first, then the backup, to look for the original.
            "a folder whose backup is read slowly": (lambda: self.browser.drop(
                [str(self.folder({"DUKE3D.EXE": patched(older), "DUKE3D.BAK": older}))]), 2),
        }
        for case, (choose, nth) in cases.items():
            if nth == 2 and self.browser.name != "chromium":
                continue  # the other engines patch no folder
            with self.subTest(case):
                self.open_page(writable=nth == 2)
                self.js("const digest = SubtleCrypto.prototype.digest; window.__digests = 0;"
                        "SubtleCrypto.prototype.digest = function (...args) {"
                        "  __digests++; return digest.apply(this, args).finally(() => __digests--); }")
                held = self.hold("Blob.arrayBuffer", nth, after=True)
                choose()
                held()
                # Read, not yet written: said so, in any language.
                for language in ["ja", "en"]:
                    self.speak(language)
                    self.assertEqual(self.text("status"), messages(self.page)[language]["checking"])
                self.choose("DUKE3D.EXE", newer)
                self.js("__release()")
                self.wait(lambda: self.js("return __digests === 0"), "the older choice's end")
                self.assertEqual(self.text("chosen"), f"Chosen: DUKE3D.EXE, {len(newer):,} bytes")
                self.assertEqual(self.text("sum-before"), hashlib.sha256(newer).hexdigest())
                if nth == 1:  # a page that may write to folders saves elsewhere
                    self.save(patched(newer))


class Failure(Page):
    def test_what_cannot_be_patched_offers_nothing_and_the_next_file_works(self):
        os.mkdir(folder := os.path.join(self.dir, "DUKE3D.EXE"))
        cases = {  # case: (what breaks the page first, the file chosen, what the page says, the next file)
            "too large": (None, self.write("DUKE3D.EXE", size=LIMIT + 1), ["too large", "up to 64 MB"], image(LIMIT)),
            "a folder": (None, folder, ["could not be read"], image(REACH + 2)),
            **{case: (script, self.write("DUKE3D.EXE", image(REACH + 1)), said, image(REACH + 2))
               for case, (script, said) in browsers.BREAKS.items()},
        }
        for case, (script, path, said, then) in cases.items():
            if case == "a folder" and self.browser.name == "firefox":
                continue  # its file input takes no folder
            with self.subTest(case):
                self.open_page()
                if script:
                    self.js(script)
                status = self.choose_path(path)
                for words in said:
                    self.assertIn(words, status)
                self.assert_refused(status)
                self.assertIn("copy is ready", self.choose("DUKE3D.EXE", then))
                self.save(patched(then))


class Drop(Page):
    def test_one_file_is_patched_and_several_or_none_are_refused(self):
        self.assertIn("copy is ready", self.drop(("DUKE3D.EXE", REACH + 1)))
        self.assertEqual(self.text("chosen"), f"Chosen: DUKE3D.EXE, {REACH + 1:,} bytes")
        self.save(patched(image(REACH + 1)))

        cases = {  # what is dropped: (what the page says, what it names as dropped)
            "two files": ((("DUKE3D.EXE", REACH + 1), ("DUKE3D.BAK", REACH + 1)), "dropped 2 files", "DUKE3D.BAK"),
            "a link or some text, from another page": ((), "not a file", "not a file"),
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
        self.assertIn("could not run the patching program", status)
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


AGAIN = "again"  # at the button: pressed, then pressed once more


class InPlace(Page):
    """The game's folder, patched where it is in a browser that may write
    there (Chromium), on real folders, with the faults a player's machine
    brings; in the others only the copy is offered."""
    GOOD = image(REACH + 100)
    EXE, BAK = "DUKE3D.EXE", "DUKE3D.BAK"
    READY = "Nothing has been written yet"

    def setUp(self):
        super().setUp()
        self.copy_only = self.browser.name != "chromium"  # the cases below are then done
        if self.copy_only:
            self.assertFalse(self.js("return document.getElementById('folder').offsetParent !== null"))

    def as_root(self, do, undo):
        """Runs a command that needs root (a mount, a flag), and its undoing after the case."""
        if os.geteuid() != 0:
            self.skipTest("needs root: mounts and the immutable flag")
        subprocess.run(do, check=True)
        self.addCleanup(subprocess.run, undo, check=True)

    def mount(self, folder, *how):
        """Mounts over folder, its files kept."""
        files = {f.name: f.read_bytes() for f in folder.iterdir()}
        self.as_root(["mount", *how, str(folder)], ["umount", str(folder)])
        for name, data in files.items():
            (folder / name).write_bytes(data)

    def tmpfs(self, kib):
        return lambda folder: self.mount(folder, "-t", "tmpfs", "-o", f"size={kib}k", "tmpfs")

    def read_only(self, folder):
        self.mount(folder, "--bind", str(folder))
        subprocess.run(["mount", "-o", "remount,bind,ro", str(folder)], check=True)

    def immutable(self, folder):
        self.as_root(["chattr", "+i", str(folder)], ["chattr", "-i", str(folder)])

    def button(self):
        """The write button: (label, shown, enabled)."""
        return self.js("const b = document.getElementById('write');"
                       "return [b.innerText, !b.closest('[hidden]'), !b.disabled]")

    def assert_folder(self, folder, want):
        """Every file in the folder, by name and bytes (None: a folder): no leftover."""
        self.assertEqual(sorted(f.name for f in folder.iterdir()), sorted(want))
        for name, data in want.items():
            if data is not None:
                self.assert_same_bytes((folder / name).read_bytes(), data)
        return {}

    def test_the_folder_is_patched_in_place_whatever_happens_to_it(self):
        if self.copy_only:
            return
        good, odd, other = self.GOOD, random.Random(3).randbytes(REACH), image(REACH + 101)
        EXE, BAK, READY = self.EXE, self.BAK, self.READY
        done = ["Done: DUKE3D.EXE in the GAME folder is now patched."]
        kept = "A copy of your original is kept in the same folder: DUKE3D.BAK."
        unchanged = ["DUKE3D.EXE on disk is unchanged.", "Or save a patched copy"]
        stuff = {EXE: good, "GAME.CON": b"con"}
        # Another file that the patch turns into the same one: another name in the first place.
        twin = good[:EXPECTED[0][0]] + b"NAME 9" + good[EXPECTED[0][0] + 6:]
        # The folder after the button, from its files before: patched, with the backup in bak.
        fine = lambda bak=BAK: lambda files: {**files, EXE: patched(good), bak: good}  # noqa: E731
        same = lambda files: files  # noqa: E731
        put = lambda data: lambda folder: (folder / EXE).write_bytes(data)  # noqa: E731
        close, write = "FileSystemWritableFileStream.close", "FileSystemWritableFileStream.write"

        def row(files, said=None, after=same, setup=None, how="drop", verdict=READY, at=None, read=()):
            """A case: the folder's files, what the status says after the button
            (None: no button) and the folder after it, from its files before;
            what is done to the folder first, how it is opened, the verdict; at
            the button: AGAIN, or (method, nth, after) to hold at, () for before
            it, and what to do there; the messages then read again in Arabic."""
            return files, setup, how, verdict, at, said, after, read

        def refuse(method, nth, error, name=None):  # a setup: the page's nth call of method fails with error
            return lambda folder: self.hold(method, nth, error=error, name=name)

        def toggle(folder):
            for _ in range(2):
                self.browser.click("sure")
                self.assertFalse(self.button()[2])

        def drop_other(folder):
            self.other = self.folder({EXE: good})
            self.browser.drop([str(self.other)])
            self.assertRegex(self.text("status"), "Patching DUKE3D.EXE in the GAME folder.*\n*Wait for it to finish")

        cases = {
            "patched in place": row(stuff, done + [kept], fine()),
            "chosen with the picker": row({EXE: good}, done + [kept], fine(), how="pick"),
            "another DUKE3D.BAK kept": row({EXE: good, BAK: b"old"}, ["DUKE3D.BAK is a different file, not a copy of yours",
                                                                     "saved as DUKE3D-2.BAK"], fine("DUKE3D-2.BAK"),
                                           read=["keptOther"]),
            "the backup already there": row({EXE: good, BAK: good},
                                            ["A copy of your original was already there: DUKE3D.BAK."], fine()),
            "a doubtful file, confirmed": row({EXE: odd}, ["is now patched"], lambda f: {EXE: patched(odd), BAK: odd},
                                              verdict="other than text"),
            "the name in lower case": row({"duke3d.exe": good}, ["is now patched"],
                                          lambda f: {"duke3d.exe": patched(good), BAK: good}, how="pick",
                                          verdict="called duke3d.exe"),
            # An interrupted attempt's leftovers are removed and named; a player's files stay.
            "leftovers of an attempt cut off": row(
                {EXE: good, BAK: b"", "DUKE3D.EXE.crswap": good[:99], "DUKE3D.BAK.part": good[:500],
                 "DUKE3D-2.BAK.part.crswap": b"", "NOTES.crswap": b"mine", "DUKE3D-3.BAK.part": b"mine"},
                ["removed what an interrupted attempt had left in the folder: DUKE3D-2.BAK.part.crswap, "
                 "DUKE3D.BAK.part, DUKE3D.EXE.crswap, and DUKE3D.BAK.", kept],
                lambda f: {EXE: patched(good), BAK: good, "NOTES.crswap": b"mine", "DUKE3D-3.BAK.part": b"mine"}),
            "a link as DUKE3D.BAK": row({EXE: good, "OLD": b"old"}, ["could not be used for the backup and were left "
                                                                    "untouched: DUKE3D.BAK", "folder: DUKE3D-2.BAK"],
                                        lambda f: {**fine("DUKE3D-2.BAK")(f), BAK: b"old"},
                                        setup=lambda f: os.symlink("OLD", f / BAK)),
            "a DUKE3D.BAK.part of the player's": row({EXE: good, "DUKE3D.BAK.part": b"mine"},
                                                     ["kept in the same folder: DUKE3D-2.BAK"], fine("DUKE3D-2.BAK")),
            # Chromium run as root reads any file: one it may not read is made in the page.
            "a DUKE3D.BAK the browser may not read": row(
                {EXE: good, BAK: b"old"}, ["kept in the same folder: DUKE3D-2.BAK"], fine("DUKE3D-2.BAK"),
                setup=refuse("FileSystemFileHandle.getFile", 0, "NotReadableError", BAK)),
            "a folder named DUKE3D.BAK": row({EXE: good}, ["could not be used for the backup", "folder: DUKE3D-2.BAK"],
                                             lambda f: {**fine("DUKE3D-2.BAK")(f), BAK: None},
                                             setup=lambda f: (f / BAK).mkdir()),
            # The same size: only the bytes tell; what was left stays, since nothing is written.
            "changed on disk since, its size the same": row(
                {EXE: good, "DUKE3D.EXE.crswap": b""}, ["has changed on disk", "Nothing was written"],
                lambda f: {**f, EXE: twin}, at=((), put(twin))),
            "changed on disk since": row({EXE: good}, ["has changed on disk", "Nothing was written"],
                                         lambda f: {EXE: other}, at=((), put(other))),
            # Held with the writer opened: the change is seen before its copy replaces the file.
            "changed while it is written": row({EXE: good}, ["has changed on disk", "Nothing was written"],
                                               lambda f: {EXE: other},
                                               at=(("FileSystemFileHandle.createWritable", 1, True), put(other))),
            # Held after the file was replaced: told as it is, never written over.
            "changed just after it was written": row(
                {EXE: good}, ["Another program changed DUKE3D.EXE", "neither your original nor the patched file", "left it as it is",
                             "safe in DUKE3D.BAK"],
                lambda f: {EXE: other, BAK: good}, at=((close, 2, True), put(other)), read=["changedAfter", "leftAsItIs", "backupOriginal"]),
            "deleted after the verdict": row({EXE: good}, ["no longer in the GAME folder", "Nothing was written"],
                                             lambda f: {}, at=((), lambda f: (f / EXE).unlink())),
            "deleted after the backup": row(
                {EXE: good}, ["no longer in the GAME folder", "safe in DUKE3D.BAK", "rename DUKE3D.BAK"],
                lambda f: {BAK: good}, at=((write, 2, False), lambda f: (f / EXE).unlink())),
            "read-only DUKE3D.EXE": row({EXE: good}, ["marked read-only", "untick Read-only", *unchanged],
                                        setup=lambda f: os.chmod(f / EXE, 0o444)),
            "a read-only folder": row({EXE: good}, ["may not write in the GAME folder", *unchanged], setup=self.read_only),
            "an immutable folder": row({EXE: good}, ["may not write in the GAME folder", *unchanged], setup=self.immutable),
            "no room for the backup": row({EXE: good}, ["not enough free space", "about 2,273,524 bytes free", *unchanged],
                                          setup=self.tmpfs(1600)),
            "no room for the browser's copy": row({EXE: good}, ["not enough free space", *unchanged],
                                                  setup=self.tmpfs(2600)),
            "permission refused": row({EXE: good}, ["not allowed", *unchanged], how="private"),
            "the picker cancelled": row({EXE: good}, how="cancel", verdict="Nothing patched yet"),
            "the picker refused": row({EXE: good}, how="refuse", verdict="would not open that folder"),
            "the backup changed as it is written": row(
                {EXE: good}, ["is not what the page wrote", *unchanged],
                at=((close, 1, True), lambda f: (f / "DUKE3D.BAK.part").write_bytes(b"x"))),
            # As the browser says it on Windows, where the game holds the file
            # open: made in the page, the one fault this machine cannot make.
            "held open by the game": row({EXE: good}, ["still has it open", "Close the game", *unchanged],
                                         setup=refuse(close, 2, "NoModificationAllowedError")),
            # The only copy of the original is never removed for a failure.
            "the way back, held open by the game": row({EXE: patched(good), BAK: good}, ["still has it open"],
                                                       setup=refuse(close, 1, "InvalidStateError"),
                                                       verdict="holds your original",
                                                       read=["changedBack", "captionBack", "checksumNoteBack", "locked"]),
            "patched, then put back at once": row({EXE: good}, ["is your original again"],
                                                  lambda f: {EXE: good, BAK: good}, at=AGAIN),
            "the way back": row({EXE: patched(good), BAK: good},
                                ["is your original again", "DUKE3D.BAK is still in the same folder"],
                                lambda f: {EXE: good, BAK: good}, verdict="DUKE3D.BAK in the same folder holds your original",
                                read=["restored", "changedBack", "captionBack", "checksumNoteRestored"]),
            "the way back from another backup": row(
                {EXE: patched(good), BAK: other, "DUKE3D-2.BAK": good}, ["is your original again, the same as DUKE3D-2.BAK"],
                lambda f: {**f, EXE: good}, verdict="DUKE3D-2.BAK in the same folder"),
            "already patched, no backup": row({EXE: patched(good), BAK: patched(good)}, verdict="already patched"),
            "the way back from the first of two originals": row(
                {EXE: patched(good), BAK: good, "DUKE3D-2.BAK": twin}, ["is your original again, the same as DUKE3D.BAK."],
                lambda f: {**f, EXE: good}, verdict="DUKE3D.BAK in the same folder"),
            "the way back, after an attempt cut off": row(
                {EXE: patched(good), BAK: good, "DUKE3D.EXE.1.crswap": b"", "DUKE3D-2.BAK.part": good[:REACH]},
                ["is your original again", "DUKE3D-2.BAK.part and DUKE3D.EXE.1.crswap"], lambda f: {EXE: good, BAK: good},
                verdict="DUKE3D.BAK in the same folder"),
            "a link as DUKE3D.EXE": row({"REAL.EXE": good}, after=lambda f: {**f, EXE: good},
                                        setup=lambda f: os.symlink("REAL.EXE", f / EXE),
                                        verdict="did not find DUKE3D.EXE in the GAME folder"),
            # One write at a time, told about its own folder.
            "the box ticked and unticked while it is written": row(
                {EXE: odd}, ["is now patched"], lambda f: {EXE: patched(odd), BAK: odd}, verdict="other than text",
                at=((close, 2, False), toggle)),
            "another folder dropped while it is written": row(
                stuff, done + [kept], lambda f: {**fine()(f), **self.assert_folder(self.other, {EXE: good})},
                at=((close, 2, False), drop_other)),
        }
        say = messages(self.page)
        for case, (files, setup, how, verdict, hold, said, after, read) in cases.items():
            with self.subTest(case):
                folder, status = self.open_folder(files, setup, how)
                self.assertIn(verdict, status)
                self.assertEqual(self.button()[1], said is not None)
                if said:
                    # The table shows what the button writes, and the checksums the original first.
                    back = self.button()[0] == "Put the original back"
                    self.assertEqual(self.column(2), [old(i) if back else t.decode() + "\\0\\0\\0"
                                                      for i, (_, t) in enumerate(EXPECTED)])
                    game = next(data for name, data in files.items() if name.upper() == EXE)
                    self.assertEqual(self.text("sum-before"), hashlib.sha256(good if back else game).hexdigest())
                    self.assertEqual(self.button()[2], files.get(EXE) is not odd)
                    if files.get(EXE) is odd:
                        self.browser.click("sure")
                    if hold == AGAIN:  # patched first; the outcome told is that of the second press
                        self.press("write")
                        hold = None
                    if hold and not hold[0]:  # done to the folder before the button
                        hold[1](folder)
                    status = self.press("write", *(hold[0], lambda: hold[1](folder)) if hold and hold[0] else ())
                    for words in said:
                        self.assertIn(words, status)
                    # Offered again after a failure, but not where the file is
                    # gone or was written by another program meanwhile.
                    if self.status_kind() == "failed":
                        self.assertEqual(all(self.button()[1:]), not re.search("folder again|get it back", status), status)
                if read:  # the same page in another language
                    self.speak("ar")
                    shown = self.js("return document.body.innerText").replace("\u00a0", " ")
                    for key in read:
                        for words in re.split(r"\{\w+\}", say["ar"][key].replace("\u00a0", " ")):
                            self.assertIn(words.strip(), shown, key)
                self.assert_folder(folder, after(dict(files)))
                self.doCleanups()  # mounts and flags undone before the next case

    def test_a_browser_killed_while_writing_leaves_the_file_whole(self):
        if self.copy_only:
            return
        EXE, BAK, good = self.EXE, self.BAK, self.GOOD
        for hold in [("FileSystemWritableFileStream.close", 1, False),  # the backup half made
                     ("FileSystemWritableFileStream.close", 2, False),  # the file's new copy written
                     ("FileSystemWritableFileStream.close", 2, True)]:  # the file replaced
            with self.subTest(hold):
                folder, _ = self.open_folder({EXE: good})
                held = self.hold(*hold)
                self.browser.click("write")
                held()
                self.browser.kill()
                type(self).browser = browsers.Chromium(tempfile.mkdtemp(dir=self.tmp))
                self.assertIn((folder / EXE).read_bytes(), [good, patched(good)])
                if (folder / BAK).exists():
                    self.assert_same_bytes((folder / BAK).read_bytes(), good)
                # The next run in that folder: the truth, and no litter.
                litter = sorted({f.name for f in folder.iterdir()} - {EXE, BAK})
                self.open_page(writable=True)
                status = self.verdict(lambda: self.browser.drop([str(folder)]))
                if (folder / EXE).read_bytes() == good:
                    self.assertIn(self.READY, status)
                    status = self.press("write")
                    self.assertIn("is now patched", status)
                    listed = " and ".join(litter) if len(litter) < 3 else ", ".join(litter[:-1]) + ", and " + litter[-1]
                    self.assertEqual(f"left in the folder: {listed}." in status, bool(litter), status)
                else:
                    self.assertEqual(litter, [])
                    self.assertIn("DUKE3D.BAK in the same folder holds your original", status)
                self.assert_folder(folder, {EXE: patched(good), BAK: good})


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
        # A number and its unit are kept together.
        self.assertEqual(self.text("chosen"), "Gewählt: DUKE3D.EXE, 1.136.663 Bytes")
        self.assertEqual(self.js("return document.querySelector('#chosen .size').textContent"), "1.136.663 Bytes")
        self.assertEqual(self.js("return document.getElementById('lang').value"), "de")
        for language, chosen in [("pl", "Wybrano: DUKE3D.EXE, 1 136 663 bajty"),
                                 ("ru", "Выбран: DUKE3D.EXE, 1 136 663 байта")]:
            with self.subTest(language):
                self.speak(language)
                self.assertEqual(shown(), [language, "#lang=" + language, say[language]["title"]])
                self.assertEqual(self.text("status"), say[language]["copyReady"].format(name="DUKE3D.EXE"))
                self.assertEqual(self.text("chosen"), chosen)
                self.assertTrue(self.offered())
        # Back to English with the list, the list showing it.
        self.speak("en")
        self.assertEqual(self.text("status"), say["en"]["copyReady"].format(name="DUKE3D.EXE"))
        # Brazilian Portuguese says 0 bytes with a form of its own.
        self.choose("DUKE3D.EXE", b"")
        self.speak("pt-BR")
        self.assertTrue(self.text("chosen").endswith(say["pt-BR"]["bytes"]["=0"].replace("{n}", "0").replace("\u00a0", " ")))
        # A message a table lacks is shown in English.
        lacking = pathlib.Path(self.dir, "lacking.html")
        lacking.write_text(with_messages(self.page, {**say, "ru": {k: v for k, v in say["ru"].items() if k != "copyReady"}}),
                           encoding="utf-8")
        self.open_page(f"file://{lacking}#lang=ru")
        self.choose("DUKE3D.EXE", image(REACH + 1))
        self.assertEqual(self.text("status"), say["en"]["copyReady"].format(name="DUKE3D.EXE"))
        # The address keeps the choice, over the browser's language.
        self.open_page(f"file://{self.page}#lang=pl")
        self.assertEqual(shown(), ["pl", "#lang=pl", say["pl"]["title"]])
        self.assertEqual(self.js("return document.getElementById('lang').value"), "pl")
        # Every language, English first in the list, asked for by the reader's
        # browser and by the address; a variant the page lacks gets the
        # nearest it has, as does a language named as a C library's locale is.
        self.assertEqual(self.js("return document.getElementById('lang').options[0].value"), "en")
        asked = {**{tag: tag for tag in say}, "de_AT": "de", "nl-BE": "nl", "pt-PT": "pt-BR", "zh-TW": "zh-CN", "xx": "en"}
        for reader, language in asked.items():
            for how in ["browser", "address"]:
                with self.subTest(reader=reader, how=how):
                    self.assertEqual(self.js(
                        "const [reader, how] = arguments;"
                        "Object.defineProperty(navigator, 'languages', { value: [reader], configurable: true });"
                        "history.replaceState(null, '', how === 'address' ? '#lang=' + reader : location.pathname);"
                        "dispatchEvent(new HashChangeEvent('hashchange'));"
                        "return [document.documentElement.lang, document.documentElement.dir, document.title]", reader, how),
                        [language, say[language].get("dir", "ltr"), say[language]["title"]])
        # A browser too old to unpack the texts is told so in the reader's
        # language, or in the address's.
        old = pathlib.Path(self.dir, "old.html")
        old.write_text(pathlib.Path(self.page).read_text(encoding="utf-8").replace(
            "<head>", "<head><script>delete window.DecompressionStream</script>", 1), encoding="utf-8")
        for address, language in [("", "de"), ("?again#lang=ar", "ar")]:  # a new address: loaded anew
            with self.subTest(too_old=language):
                self.browser.open(f"file://{old}{address}")
                self.wait(lambda: self.js("return document.getElementById('status').className") == "status failed", "the note")
                self.assertEqual(self.text("status", nbsp="\u00a0"), say[language]["tooOld"])


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
        # the page fits the width in every language, a file's name, SHA-256
        # and a number with its unit each on one line, and the checkbox and
        # the language's control stay a finger's target. Words are hyphenated
        # by the page's language, file names, bytes and units never.
        self.js("document.documentElement.style.width = '320px'; document.documentElement.style.fontSize = '32px'")
        self.choose("DUKE3D.EXE", random.Random(5).randbytes(REACH))
        self.assertEqual(self.js("return ['h1', '.name', 'code', '.size'].map(s => getComputedStyle(document.querySelector(s))"
                                 ".hyphens)"), ["auto", "manual", "manual", "manual"])
        for language, chosen in [(language, chosen) for chosen in [{"size": LIMIT + 1}, {"data": random.Random(5).randbytes(REACH)}]
                                 for language in messages(self.page)]:
            with self.subTest(language, size=len(chosen.get("data", "")) or chosen["size"]):
                if language == "en":  # too large, then doubtful, in every language
                    self.choose("DUKE3D.EXE", **chosen)
                self.speak(language)
                self.assertLessEqual(self.js("return document.body.scrollWidth"), 320)
                self.assertEqual(self.js("return Array.from(document.querySelectorAll('.name:not(.long), .size')).filter("
                                         "e => new Set(Array.from(e.getClientRects(), r => r.top)).size > 1).map(e => e.textContent)"), [])
                self.assertGreaterEqual(self.js("return Math.min(...['.sure', '#lang'].map(s => document.querySelector(s))"
                                                ".filter(e => e.offsetParent).map(e => e.getBoundingClientRect().height))"), 44)
        # On a phone-sized screen, the verdict and its button are brought into
        # view, and so is the warning after a drop of several files.
        self.addCleanup(self.browser.resize, 1280, 900)
        seen = "const r = document.getElementById(arguments[0]).getBoundingClientRect(); return r.top >= 0 && r.bottom <= innerHeight"
        for height in [740, 950]:
            with self.subTest(height=height):
                self.browser.resize(360, height)
                self.open_page()
                self.choose("DUKE3D.EXE", random.Random(5).randbytes(REACH))
                self.assertTrue(self.js(seen, "save"))
                self.js("scrollTo(0, 0)")
                self.drop(("DUKE3D.EXE", REACH), ("DUKE3D.BAK", REACH))
                self.assertTrue(self.js(seen, "status"))
                if self.browser.name == "chromium":  # and a write's outcome, its status scrolled past
                    self.open_folder({"DUKE3D.EXE": image(REACH)})
                    self.js("document.getElementById('write').scrollIntoView()")
                    self.assertFalse(self.js(seen, "status"))
                    self.press("write")
                    self.assertTrue(self.js(seen, "status"))


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        main(sys.modules[__name__], ["--list"])
    if why := Page.use(*sys.argv[1:3]):
        print(f"skipped: {why}")
        sys.exit(77)
    main(sys.modules[__name__], sys.argv[3:])
