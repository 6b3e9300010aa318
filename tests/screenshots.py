#!/usr/bin/env python3
"""Screenshots of every state of patcher.html, for a person to look at.

Usage: screenshots.py ENGINE PATCHER.HTML FOLDER [LANGUAGE]   (webkit under xvfb-run)

Writes ENGINE-LANGUAGE-STATE-WIDTH.png for each state, 1280 and 360 pixels
wide, and 320 wide with the text at 200 %, in the language named (as in the
page's address, #lang=de) or else English. WebKit's window is never
narrower than 447: there the page is laid out that wide instead, in a
window 14000 pixels tall, since its shots hold only what the window shows.
"""
import os
import random
import sys
import unittest

import browsers
from common import LIMIT, REACH, image, patched


class Shots(browsers.Page):
    def runTest(self):
        full = image(REACH + 100)
        # state: how to reach it from a fresh page
        states = {
            "nothing-chosen": lambda: None,
            "patched": lambda: self.choose("DUKE3D.EXE", full),
            "already-patched": lambda: self.choose("DUKE3D.EXE", patched(full)),
            "doubtful": lambda: self.choose("DUKE3D.EXE", random.Random(1).randbytes(REACH)),
            "short": lambda: self.choose("duke3d.exe", image(1000)),
            "too-large": lambda: self.choose("DUKE3D.EXE", size=LIMIT + 1),
            "two-dropped": lambda: self.drop(("DUKE3D.EXE", REACH), ("DUKE3D.BAK", REACH)),
            "failed": lambda: self.js(browsers.BREAKS["the program's open fails"][0]) or
                              self.choose("DUKE3D.EXE", full),
        }
        if self.browser.name == "chromium":  # where the page patches in place
            exe, bak, held = "DUKE3D.EXE", "DUKE3D.BAK", ("FileSystemWritableFileStream.close", 2, True)
            write = lambda *hold: lambda: self.press("write", *hold)  # noqa: E731
            states.update({  # state: the folder's files, set up, how it is opened, then what is done
                "folder-verdict": ({exe: full}, None, "drop", None),
                "folder-done": ({exe: full}, None, "drop", write()),
                "folder-doubtful": ({exe: random.Random(1).randbytes(REACH)}, None, "drop", None),
                "folder-without-it": ({"GAME.CON": b"con"}, None, "drop", None),
                "folder-refused": ({exe: full}, None, "private", write()),
                "folder-read-only": ({exe: full}, lambda f: os.chmod(f / exe, 0o444), "drop", write()),
                "folder-leftovers": ({exe: full, "DUKE3D.EXE.crswap": b""}, None, "drop", write()),
                "folder-changed-after": ({exe: full}, None, "drop", lambda: self.press(
                    "write", held, lambda: (self.game / exe).write_bytes(image(REACH)))),
                "folder-way-back": ({exe: patched(full), bak: full}, None, "drop", None),
                "folder-put-back": ({exe: patched(full), bak: full}, None, "drop", write()),
            })
        # width: the text's size
        for width, font in [(1280, "16px"), (360, "16px"), (320, "32px")]:
            for state, reach in states.items():
                # WebKit shoots its window alone: one as tall as the longest page.
                webkit = self.browser.name == "webkit"
                self.browser.resize(1280 if webkit else width, 14000 if webkit else 900)
                if callable(reach):
                    self.open_page()
                    reach()
                else:  # a folder
                    files, setup, how, then = reach
                    self.game, _ = self.open_folder(files, setup, how)
                    if then:
                        then()
                if webkit and width < 1280:
                    self.js(f"document.documentElement.style.width = '{width}px'")
                self.js(f"document.documentElement.style.fontSize = '{font}'")
                # Shot once the browser has drawn a frame of the page as it is now.
                self.js("return new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)))")
                path = os.path.join(FOLDER, f"{self.browser.name}-{LANGUAGE}-{state}-{width}.png")
                self.browser.screenshot(path)
                print(path)


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    FOLDER, LANGUAGE = sys.argv[3], (sys.argv[4:] or ["en"])[0]
    if why := Shots.use(*sys.argv[1:3]):
        sys.exit(f"screenshots.py: cannot start {why}")
    Shots.url += "#lang=" + LANGUAGE
    os.makedirs(FOLDER, exist_ok=True)
    suite = unittest.TestSuite([Shots()])  # a suite sets the class up and down
    sys.exit(0 if unittest.TextTestRunner().run(suite).wasSuccessful() else 1)
