"""The page in a browser: three engines behind one small interface, each
started with a folder of its own where the files it saves land, and Page,
the test case that uses the page as a person would. Chromium and Firefox run
through puppeteer-core (puppeteer.mjs, run by node); WebKit (MiniBrowser)
through Selenium and WebKitWebDriver on a virtual display (xvfb-run).
missing(engine) says why an engine cannot be started here, or None.
"""
import base64
import http.server
import json
import os
import pathlib
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest
import unittest.mock
import warnings

from common import SameBytes, image

try:
    from selenium import webdriver
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys
except ImportError:
    webdriver = None

warnings.filterwarnings("ignore", category=DeprecationWarning)  # Debian's Selenium, WebKitGTK
HERE = os.path.dirname(os.path.abspath(__file__))
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"

# Added to every page, before its own scripts where the engine allows, else
# right after it loads: what went wrong in it, as the page's own events say.
WATCH = """const note = text => window.__problems.push(text); window.__problems = [];
addEventListener('error', e => note('error: ' + e.message));
addEventListener('unhandledrejection', e => note('unhandled: ' + e.reason));
addEventListener('securitypolicyviolation', e => note('refused by the policy: ' + e.blockedURI));"""

# Where a driver cannot drag files from the desktop: the same drop, made in the page.
DROP = """const data = new DataTransfer();
for (const [name, bytes] of arguments[0])
  data.items.add(new File([Uint8Array.from(atob(bytes), c => c.charCodeAt(0))], name));
document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));"""



# How the tests break a run inside the page, through what the browser
# provides: the script, and what the page must say.
BREAKS = {
    # Its file missing when the program runs, once: the program's open
    # fails; the instance works again afterwards.
    "the program's open fails": ("const set = Map.prototype.set; Map.prototype.set = function (name, bytes) {"
                                 "  if (name !== 'DUKE3D.EXE') return set.call(this, name, bytes);"
                                 "  Map.prototype.set = set; return this; }", ["could not write", "exit status -1"]),
    # An instance whose every call to the page throws stays broken: only a
    # new one serves the next file.
    "the program throws": ("const make = WebAssembly.instantiate; WebAssembly.instantiate = (module, imports) => {"
                           "  WebAssembly.instantiate = make; const fail = () => { throw new Error('broken'); };"
                           "  return make(module, Object.fromEntries(Object.entries(imports).map(([space, calls]) =>"
                           "    [space, Object.fromEntries(Object.keys(calls).map(name => [name, fail]))]))); }",
                           ["could not run the patching program"]),
}


def missing(engine):
    needs = {"chromium": ["chromium", "node"], "firefox": ["firefox-esr", "node"],
             "webkit": ["WebKitWebDriver", MINIBROWSER]}[engine]
    absent = [tool for tool in needs if not shutil.which(tool)]
    if absent:
        return f"{engine}: not installed: {', '.join(absent)}"
    if engine != "webkit" and not os.path.isdir(os.path.join(HERE, "node_modules", "puppeteer-core")):
        return f"{engine}: puppeteer-core is not installed (npm ci in tests/)"
    if engine == "webkit" and webdriver is None:
        return "webkit: Selenium is not importable (python3-selenium)"
    if engine == "webkit" and not os.environ.get("DISPLAY"):
        return "webkit: no display (run under xvfb-run)"
    return None


def in_page_drop(browser, paths):
    browser.run(DROP, [[os.path.basename(p), base64.b64encode(pathlib.Path(p).read_bytes()).decode()]
                       for p in paths])


class Recorder(http.server.ThreadingHTTPServer):
    """A server on 127.0.0.1 that serves one page at /patcher.html, nothing
    else, and notes every path asked for, also of it as a proxy."""

    def __init__(self, page):
        self.page, self.seen = page, []
        super().__init__(("127.0.0.1", 0), Noting)
        self.url = f"http://127.0.0.1:{self.server_port}/patcher.html"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.shutdown()
        self.server_close()


class Noting(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.server.seen.append(self.path)
        body = pathlib.Path(self.server.page).read_bytes() if self.path == "/patcher.html" else b""
        self.send_response(200 if body else 404)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    do_CONNECT = do_POST = do_HEAD = do_GET

    def log_message(self, *args):  # quiet
        pass


class Puppeteer:
    """Chromium or Firefox, through puppeteer.mjs: a method is a command there."""

    def __init__(self, home, no_webassembly=False, languages=None):
        self.downloads = os.path.join(home, "downloads")
        os.makedirs(self.downloads)
        args = [self.BROWSER, shutil.which(self.EXECUTABLE), self.downloads] + ["no-webassembly"] * no_webassembly
        args += [f"lang={','.join(languages)}"] if languages else []
        self.node = subprocess.Popen(["node", os.path.join(HERE, "puppeteer.mjs"), *args], text=True,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=dict(os.environ, HOME=home))
        self.version = self.call("version")

    def call(self, name, *args):
        self.node.stdin.write(json.dumps({"name": name, "args": args}) + "\n")
        self.node.stdin.flush()
        answer = json.loads(self.node.stdout.readline() or '{"error": "the driver ended"}')
        if "error" in answer:
            raise RuntimeError(f"{self.name}: {name}: {answer['error']}")
        return answer["value"]

    def __getattr__(self, name):  # run, choose, drop, press, click, resize, screenshot, requests, errors
        return lambda *args: self.call(name, *args)

    def open(self, url, writable=False):
        self.call("open", url, WATCH, writable)

    def quit(self):
        try:
            self.call("quit")
        finally:
            self.node.wait(30)

    def kill(self):
        """Ends the browser at once, as a crash or a power cut would, and its driver."""
        os.killpg(self.call("pid"), signal.SIGKILL)
        self.node.kill()
        self.node.communicate(timeout=30)


class Chromium(Puppeteer):
    name, BROWSER, EXECUTABLE = "chromium", "chrome", "chromium"


class Firefox(Puppeteer):
    name, BROWSER, EXECUTABLE = "firefox", "firefox", "firefox-esr"
    drop = in_page_drop


class WebKit:
    name = "webkit"
    drop = in_page_drop

    def __init__(self, home, no_webassembly=False, languages=None):
        # MiniBrowser saves into the user's download folder: one of our own.
        self.downloads, config = os.path.join(home, "downloads"), os.path.join(home, ".config")
        os.makedirs(self.downloads)
        os.makedirs(config)
        with open(os.path.join(config, "user-dirs.dirs"), "w") as f:
            f.write(f'XDG_DOWNLOAD_DIR="{self.downloads}"\n')
        # No WebDriver log to read requests from: every request goes through
        # a listener of ours instead, and none is expected.
        self.proxy = Recorder(os.devnull)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, LANG="C.UTF-8", LC_ALL="", LANGUAGE="")
        if languages:  # its one language is the C library's locale's, built here
            locale = languages[0].replace("-", "_")
            if not shutil.which("localedef") or not os.path.exists(f"/usr/share/i18n/locales/{locale}"):
                raise unittest.SkipTest(f"webkit: cannot build the locale {locale}: no localedef or no locales")
            env.update(LANG=locale + ".UTF-8", LOCPATH=os.path.join(home, "locales"))
            os.makedirs(env["LOCPATH"])
            subprocess.run(["localedef", "-i", locale, "-f", "UTF-8", os.path.join(env["LOCPATH"], env["LANG"])],
                           check=True, stdout=subprocess.DEVNULL)
        if no_webassembly:
            env["JSC_useWasm"] = "0"
        options = webdriver.WebKitGTKOptions()
        options.binary_location = MINIBROWSER
        # Tab skips links, as in Safari's default settings.
        for arg in ["--automation", "--enable-tabs-to-links=false",
                    f"--proxy=http://127.0.0.1:{self.proxy.server_port}", "--ignore-host=127.0.0.1"]:
            options.add_argument(arg)
        with unittest.mock.patch.dict(os.environ, env):  # for the driver and the browser it starts
            self.driver = webdriver.WebKitGTK(options=options)
        self.driver.set_window_size(1280, 900)
        self.version = self.driver.capabilities.get("browserVersion", "?")

    def open(self, url, writable=False):
        self.proxy.seen.clear()
        self.driver.get(url)
        self.run(WATCH)

    def run(self, body, *args):
        return self.driver.execute_script(body, *args)

    def choose(self, path):
        self.driver.find_element("id", "file").send_keys(path)

    def press(self, key):
        ActionChains(self.driver).send_keys(getattr(Keys, key.upper())).perform()

    def click(self, element_id):
        self.driver.find_element("id", element_id).click()

    def resize(self, width, height):
        self.driver.set_window_size(width, height)

    def screenshot(self, path):
        self.driver.save_screenshot(path)

    def requests(self):
        return list(self.proxy.seen)

    # Only what happens after the page has loaded: WebDriver has no script
    # before the page's own here, and no log.
    def errors(self):
        return self.run("return window.__problems")

    def quit(self):
        self.driver.quit()
        self.proxy.close()


ENGINES = {"chromium": Chromium, "firefox": Firefox, "webkit": WebKit}
VERDICT = "ok|warn|failed"  # the status's classes once the page has decided
# Left in the downloads folder while a save is still being written.
UNFINISHED = (".crdownload", ".part", ".download", ".wkdownload")


class Page(SameBytes, unittest.TestCase):
    """One engine (a browser for each class) and a fresh page for each case."""
    engine = page = None  # which, and patcher.html: see use()
    NO_WEBASSEMBLY = False
    LANGUAGES = None  # the reader's languages, set in the engine; None: its own

    @classmethod
    def use(cls, engine, page):
        """Runs the cases in that engine on that page; says why it cannot, or None."""
        cls.engine, cls.page = engine, os.path.abspath(page)
        cls.url = "file://" + cls.page
        return missing(engine)

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix=f"patcher-{cls.engine}-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp)
        cls.browser = ENGINES[cls.engine](cls.tmp, no_webassembly=cls.NO_WEBASSEMBLY, languages=cls.LANGUAGES)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    def setUp(self):
        self.open_page()

    def open_page(self, url=None, writable=False):
        """A fresh page (url, else the page's own), and a fresh folder for the
        files the case makes; writable: one that may write to the folders it
        is given, if any can."""
        self.dir = tempfile.mkdtemp(dir=self.tmp)
        self.browser.open(url or self.url, writable)
        self.wait(lambda: self.js("return document.getElementById('lang').length > 0"), "the page's texts")
        # Notes the type of every Blob the page hands out for saving.
        self.js("const make = URL.createObjectURL; window.__types = [];"
                "URL.createObjectURL = b => { window.__types.push(b.type); return make.call(URL, b); };")

    def hold(self, method, nth=1, after=False, error=None, name=None):
        """Holds the page at its nth call of method ('Class.name', of a
        prototype), before the call or after it, until released; held()
        waits until the page is there. With error, that call fails with it
        instead; nth 0 then: every call on a file of that name."""
        self.js("""const [path, nth, after, error, name] = arguments, [owner, method] = path.split('.');
            const proto = window[owner].prototype, real = proto[method];
            let calls = 0, go; const gate = new Promise(r => go = r);
            window.__held = false; window.__release = go;
            proto[method] = async function (...args) {
              if (nth ? ++calls !== nth : this.name !== name) return real.apply(this, args);
              if (nth) proto[method] = real;
              if (error) throw new DOMException('', error);
              if (!after) { __held = true; await gate; return real.apply(this, args); }
              const result = await real.apply(this, args);
              __held = true; await gate; return result;
            };""", method, nth, after, error, name)
        return lambda: self.wait(lambda: self.js("return __held"), f"the page at {method}")

    def press(self, button, hold=None, act=None):
        """Presses a button and returns the verdict; with hold, (method, nth,
        after) as for hold(), holds the page there while act runs."""
        if not hold:
            return self.verdict(lambda: self.browser.click(button))
        held = self.hold(*hold)
        self.browser.click(button)
        held()
        # One write at a time: nothing else can be chosen or pressed meanwhile.
        self.assertEqual(self.js("return ['folder', 'file', 'sure', 'write'].map(id => document.getElementById(id).disabled)"),
                         [True] * 4)
        act()
        return self.verdict(lambda: self.js("__release()"))

    def js(self, body, *args):
        return self.browser.run(body, *args)

    def speak(self, language):
        """Chooses a language with the page's own control."""
        self.js("const control = document.getElementById('lang'); control.value = arguments[0];"
                "control.dispatchEvent(new Event('change'))", language)

    def text(self, element_id, nbsp=" "):
        """What an element says, a no-break space read as nbsp."""
        return self.js("return document.getElementById(arguments[0]).innerText",
                       element_id).strip().replace("\u00a0", nbsp)

    def wait(self, done, what, seconds=60):
        deadline = time.time() + seconds
        while not done():
            if time.time() > deadline:
                self.fail(f"waited {seconds} s for {what() if callable(what) else what}")
            time.sleep(0.05)

    def write(self, name, data=None, size=None):
        """A new file of that name in a folder of its own: data, or size zero bytes."""
        path = os.path.join(tempfile.mkdtemp(dir=self.dir), name)
        with open(path, "wb") as f:
            f.truncate(size) if data is None else f.write(data)
        return path

    def folder(self, files):
        """A new folder GAME holding files, {name: bytes}."""
        path = pathlib.Path(tempfile.mkdtemp(dir=self.dir), "GAME")
        path.mkdir()
        for name, data in files.items():
            (path / name).write_bytes(data)
        return path

    def open_folder(self, files, setup=None, how="drop"):
        """A folder GAME of these files, set up, then opened on a fresh page
        (how: drop, pick, private: in a window that may not write, or the
        picker cancelled or refused); returns it and the verdict."""
        self.open_page(writable=how != "private")
        folder = self.folder(files)
        if setup:
            setup(folder)
        if how in ("cancel", "refuse"):
            # The picker's answer is taken within the click, before the click returns.
            self.js("window.showDirectoryPicker = () => Promise.reject(new DOMException('', arguments[0]))",
                    "AbortError" if how == "cancel" else "SecurityError")
            self.browser.click("folder")
            return folder, self.text("status")
        if how == "pick":  # the picker answers with the folder a drop hands over
            self.js("addEventListener('drop', e => { e.stopImmediatePropagation(); e.preventDefault();"
                    " const folder = e.dataTransfer.items[0].getAsFileSystemHandle();"
                    " window.showDirectoryPicker = () => folder; }, { capture: true, once: true })")
            self.browser.drop([str(folder)])
        return folder, self.verdict(lambda: self.browser.click("folder") if how == "pick"
                                    else self.browser.drop([str(folder)]))

    def choose(self, name, data=None, size=None):
        """Chooses a new file (see write) and waits for the verdict."""
        return self.choose_path(self.write(name, data, size))

    def choose_path(self, path):
        return self.verdict(lambda: self.browser.choose(path))

    def drop(self, *files):
        """Drops files, each (name, size) as image() makes it, and waits for the verdict."""
        return self.verdict(lambda: self.browser.drop([self.write(n, image(size)) for n, size in files]))

    def verdict(self, act):
        """Does act, then waits until the page has decided; returns what its status says."""
        self.js("document.getElementById('status').className = ''")
        act()
        self.wait(lambda: self.js(f"return /\\b({VERDICT})\\b/.test(document.getElementById('status').className)"),
                  "the page's verdict")
        return self.text("status")

    def status_kind(self):
        return self.js(f"return document.getElementById('status').className.match(/{VERDICT}/)[0]")

    def save_button(self):
        """Its style (quiet where saving is not urged) and its label."""
        return self.js("return document.getElementById('save').className"), self.text("save")

    def offered(self):
        return self.js("return !document.getElementById('result').hidden")

    def assert_refused(self, status):
        """A failure: said so in red, with nothing offered and the file said to be untouched."""
        self.assertEqual(self.status_kind(), "failed", status)
        self.assertIn("There is no patched copy to save. Your file on disk was not touched.", status)
        self.assertFalse(self.offered())

    def save(self, want, how=None):
        """Saves what the page offers (a click, or how), waits until one file
        of want's length has arrived and nothing is left unfinished, checks
        its bytes, and returns the name it was saved under."""
        folder = pathlib.Path(self.browser.downloads)
        for old in folder.iterdir():
            old.unlink()
        (how or (lambda: self.browser.click("save")))()

        def arrived():  # sizes only of finished names, which stay put
            held = list(folder.iterdir())
            return len(held) == 1 and not held[0].name.endswith(UNFINISHED) and held[0].stat().st_size == len(want)
        self.wait(arrived, lambda: f"one file of {len(want):,} bytes, not {[f.name for f in folder.iterdir()]}", 30)
        [saved] = folder.iterdir()
        self.assert_same_bytes(saved.read_bytes(), want)
        return saved.name

    def column(self, index):
        return self.js("return Array.from(document.querySelectorAll('#changes tr'),"
                       " r => r.children[arguments[0]].innerText.trim().replace(/\u00a0/g, ' '))", index)
