#!/usr/bin/env python3
"""Black-box tests of patcher.html in headless Chromium, driven by Selenium.

Usage: test_web.py PATCHER.HTML [unittest arguments, e.g. a class name]

The page is opened from disk with the network switched off. Every case
chooses a synthetic file made here, as a user would, and saves what the page
offers. Exits 77, with the reason, when Selenium, Chromium or its driver is
missing, or when every case it ran was skipped.
"""
import hashlib
import json
import os
import random
import shutil
import sys
import tempfile
import time
import unittest

from test_patcher import EXPECTED, REACH, Case, patched

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
    MISSING = None
except ImportError:
    MISSING = f"Selenium is not importable by {sys.executable}"

PAGE = None
LIMIT = 64 << 20  # the largest file the page takes
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver")
if not MISSING and not (CHROMIUM and CHROMEDRIVER):
    MISSING = "Chromium or chromedriver is not installed"


class Page(unittest.TestCase):
    PRELUDE = ""  # script run before the page's own, to make another browser of this one

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="patcher-web-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1280,900",
                     f"--user-data-dir={cls.tmp}/profile"]:
            options.add_argument(flag)
        # As a user who answered "allow" when the page saved a second file.
        options.add_experimental_option(
            "prefs", {"profile.default_content_setting_values.automatic_downloads": 1})
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        cls.browser = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        cls.browser.execute_cdp_cmd("Network.enable", {})
        cls.browser.execute_cdp_cmd("Network.emulateNetworkConditions", {
            "offline": True, "latency": 0, "downloadThroughput": -1, "uploadThroughput": -1})
        if cls.PRELUDE:
            cls.browser.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                        {"source": cls.PRELUDE})
        cls.browser.get_log("performance")  # the browser's own start-up pages

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        shutil.rmtree(cls.tmp)

    def setUp(self):
        self.open_page()

    def open_page(self):
        """A fresh page, and a fresh folder for the files the case makes and saves."""
        self.dir = tempfile.mkdtemp(dir=self.tmp)
        self.downloads = os.path.join(self.dir, "downloads")
        os.mkdir(self.downloads)
        self.browser.execute_cdp_cmd("Browser.setDownloadBehavior",
                                     {"behavior": "allow", "downloadPath": self.downloads})
        self.browser.get("file://" + PAGE)

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

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
        self.browser.execute_script("document.getElementById('status').hidden = true")
        self.browser.find_element(By.ID, "file").send_keys(path)
        WebDriverWait(self.browser, 60).until(lambda b: b.execute_script(
            "const s = document.getElementById('status');"
            "return !s.hidden && /\\b(ok|failed)\\b/.test(s.className)"))
        return self.text("status")

    def offered(self):
        return self.browser.find_element(By.ID, "save").get_attribute("href") is not None

    def save(self):
        """Clicks the save link; returns the name and bytes of what arrived."""
        # A folder of its own for each save: the browser does not save a
        # second file of the same name into this one.
        folder = tempfile.mkdtemp(dir=self.downloads)
        self.browser.execute_cdp_cmd("Browser.setDownloadBehavior",
                                     {"behavior": "allow", "downloadPath": folder})
        self.browser.find_element(By.ID, "save").click()
        deadline = time.time() + 30
        while time.time() < deadline:
            names = os.listdir(folder)
            if len(names) == 1 and not names[0].endswith(".crdownload"):
                with open(os.path.join(folder, names[0]), "rb") as f:
                    return names[0], f.read()
            time.sleep(0.05)
        self.fail("nothing was saved")

    def saved_anything(self):
        return any(files for _, _, files in os.walk(self.downloads))

    assert_same_bytes = Case.assert_same_bytes


class Patch(Page):
    def test_the_saved_file_is_the_patched_image(self):
        rng = random.Random(7)
        cases = {
            # name: (chosen name, bytes)
            "0xFF, 2 MiB": ("DUKE3D.EXE", b"\xff" * (2 << 20)),
            "random, past the reach": ("DUKE3D.EXE", rng.randbytes(REACH + 3000)),
            "empty": ("DUKE3D.EXE", b""),
            "ends inside record 3": ("DUKE3D.EXE", b"\xff" * (0x1157AA + 6)),
            "another name": ("duke3d-copy.exe", b"\xff" * (REACH + 1)),
        }
        for case, (name, before) in cases.items():
            with self.subTest(case):
                self.open_page()
                status = self.choose(name, before)
                want = patched(before)
                self.assertIn(f"{name} is patched (exit status 0)", status)
                extended = f"extended from {len(before):,} bytes to {REACH:,} bytes"
                self.assertEqual(extended in status, len(before) < REACH, status)
                self.assertEqual(self.text("chosen"), f"Chosen: {name} ({len(before):,} bytes)")
                self.assertEqual(self.text("sum-before"), hashlib.sha256(before).hexdigest())
                self.assertEqual(self.text("sum-after"), hashlib.sha256(want).hexdigest())
                rows = [[cell.text for cell in row.find_elements(By.CSS_SELECTOR, "th, td")]
                        for row in self.browser.find_elements(By.CSS_SELECTOR, "#changes tr")]
                self.assertEqual([(r[0], r[2]) for r in rows],
                                 [(f"0x{o:X}", t.decode() + "\\0\\0\\0") for o, t in EXPECTED])
                saved_name, saved = self.save()
                self.assertEqual(saved_name, name)
                self.assert_same_bytes(saved, want)


class Repeat(Page):
    def test_a_patched_file_comes_back_unchanged(self):
        first = self.choose("DUKE3D.EXE", b"\xff" * (REACH + 500))
        self.assertNotIn("no byte changed", first)
        _, once = self.save()
        second = self.choose("DUKE3D.EXE", once)
        self.assertIn("no byte changed", second)
        self.assertEqual(self.text("sum-before"), self.text("sum-after"))
        _, twice = self.save()
        self.assert_same_bytes(twice, once)


class TooLarge(Page):
    def test_a_file_over_the_limit_is_refused_and_the_page_goes_on(self):
        status = self.choose("DUKE3D.EXE", size=LIMIT + 1)
        self.assertIn("too large", status)
        self.assertIn("up to 64 MiB", status)
        self.assertFalse(self.offered())
        self.assertFalse(self.browser.find_element(By.ID, "save").is_displayed())
        self.assertFalse(self.saved_anything())

        # The very next files work: one at the limit, then an ordinary one.
        self.assertIn("is patched", self.choose("DUKE3D.EXE", size=LIMIT))
        before = b"\xff" * (REACH + 10)
        self.assertIn("is patched", self.choose("DUKE3D.EXE", before))
        self.assert_same_bytes(self.save()[1], patched(before))


class Failure(Page):
    def test_a_folder_is_not_patched(self):
        folder = os.path.join(self.dir, "DUKE3D.EXE")
        os.mkdir(folder)
        status = self.choose_path(folder)
        self.assertIn("could not be read", status)
        self.assertFalse(self.offered())


class NoWebAssembly(Page):
    # As in browsers whose hardened modes switch WebAssembly off.
    PRELUDE = "delete globalThis.WebAssembly;"

    def test_a_browser_without_webassembly_is_told_so(self):
        status = self.choose("DUKE3D.EXE", b"\xff" * REACH)
        self.assertIn("could not run the patcher", status)
        self.assertFalse(self.offered())


class Offline(Page):
    def test_the_page_makes_no_request(self):
        self.choose("DUKE3D.EXE", b"\xff" * (REACH + 1))
        self.save()
        page = "file://" + PAGE
        urls = [m["params"]["request"]["url"] for m in
                (json.loads(e["message"])["message"] for e in self.browser.get_log("performance"))
                if m["method"] == "Network.requestWillBeSent"]
        self.assertIn(page, urls, "the log saw no request at all")
        self.assertEqual([u for u in urls if u != page and not u.startswith("blob:file://")], [])
        self.assertEqual(self.browser.execute_script(
            "return performance.getEntriesByType('resource').length"), 0)
        errors = [e["message"] for e in self.browser.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [])


class Keyboard(Page):
    def test_tab_reaches_the_file_chooser_then_the_save_link(self):
        def tab():
            ActionChains(self.browser).send_keys(Keys.TAB).perform()

        tab()
        self.assertEqual(self.browser.switch_to.active_element.get_attribute("id"), "file")
        label = self.browser.find_element(By.CSS_SELECTOR, "label[for=file]").text
        self.assertIn("Choose your DUKE3D.EXE", label)
        self.choose("DUKE3D.EXE", b"\xff" * REACH)
        # Back from the file dialog, the focus is on the chooser again.
        self.browser.execute_script("document.getElementById('file').focus()")
        tab()
        self.assertEqual(self.browser.switch_to.active_element.get_attribute("id"), "save")


if __name__ == "__main__":
    if MISSING:
        print(f"skipped: {MISSING}")
        sys.exit(77)
    PAGE = os.path.abspath(sys.argv[1])
    result = unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.testsRun == len(result.skipped) else 0)
