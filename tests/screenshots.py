#!/usr/bin/env python3
"""Screenshots of every state of patcher.html, for a person to look at.

Usage: screenshots.py ENGINE PATCHER.HTML FOLDER   (webkit under xvfb-run)

Writes ENGINE-STATE-WIDTH.png for each state, 1280 and 360 pixels wide. WebKit's
window is never narrower than 447: there the page is laid out 360 wide instead.
"""
import os
import sys
import unittest

import browsers
from common import LIMIT, REACH, patched


class Shots(browsers.Page):
    def runTest(self):
        full = b"\xff" * (REACH + 100)
        # state: how to reach it from a fresh page
        states = {
            "nothing-chosen": lambda: None,
            "patched": lambda: self.choose("DUKE3D.EXE", full),
            "already-patched": lambda: self.choose("DUKE3D.EXE", patched(full)),
            "short": lambda: self.choose("duke3d.exe", b"\xff" * 1000),
            "too-large": lambda: self.choose("DUKE3D.EXE", size=LIMIT + 1),
            "two-dropped": lambda: self.drop(("DUKE3D.EXE", REACH), ("DUKE3D.BAK", REACH)),
            "failed": lambda: self.js(browsers.BREAKS["the program's open fails"][0]) or
                              self.choose("DUKE3D.EXE", full),
        }
        for width in [1280, 360]:
            for state, reach in states.items():
                self.browser.resize(width if self.browser.name != "webkit" else 1280, 900)
                self.open_page()
                if self.browser.name == "webkit" and width == 360:
                    self.js("document.documentElement.style.width = '360px'")
                reach()
                path = os.path.join(FOLDER, f"{self.browser.name}-{state}-{width}.png")
                self.browser.screenshot(path)
                print(path)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    FOLDER = sys.argv[3]
    if why := Shots.use(*sys.argv[1:3]):
        sys.exit(f"screenshots.py: cannot start {why}")
    os.makedirs(FOLDER, exist_ok=True)
    suite = unittest.TestSuite([Shots()])  # a suite sets the class up and down
    sys.exit(0 if unittest.TextTestRunner().run(suite).wasSuccessful() else 1)
