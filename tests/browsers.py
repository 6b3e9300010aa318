"""The three browser engines the page is tested in, behind one small interface.

    Chromium   chromium and chromedriver, through Selenium
    Firefox    firefox-esr, through puppeteer-core (firefox.mjs, run by node)
    WebKit     WebKitGTK's MiniBrowser and WebKitWebDriver, through Selenium,
               on a virtual display (run the tests under xvfb-run)

Each one is started with a folder of its own, where the files it saves land.
missing(engine) says why an engine cannot be started here, or None.
"""
import http.server
import json
import os
import shutil
import subprocess
import threading
import warnings

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
WATCH = """
window.__problems = [];
const note = text => window.__problems.push(text);
addEventListener('error', e => note('error: ' + e.message));
addEventListener('unhandledrejection', e => note('unhandled: ' + e.reason));
addEventListener('securitypolicyviolation', e => note('refused by the policy: ' + e.blockedURI));
"""


def missing(engine):
    needs = {
        "chromium": ["chromium", "chromedriver"],
        "firefox": ["firefox-esr", "node"],
        "webkit": ["WebKitWebDriver"],
    }[engine]
    absent = [tool for tool in needs if not shutil.which(tool)]
    if engine == "webkit" and not os.path.exists(MINIBROWSER):
        absent.append(MINIBROWSER)
    if absent:
        return f"{engine}: not installed: {', '.join(absent)}"
    if engine != "firefox" and webdriver is None:
        return f"{engine}: Selenium is not importable"
    if engine == "firefox" and not os.path.isdir(os.path.join(HERE, "node_modules", "puppeteer-core")):
        return "firefox: puppeteer-core is not installed (npm ci in tests/)"
    if engine == "webkit" and not os.environ.get("DISPLAY"):
        return "webkit: no display (run under xvfb-run)"
    return None


def downloads_in(home):
    """The folder, made in home, where an engine's saved files land."""
    folder = os.path.join(home, "downloads")
    os.makedirs(folder)
    return folder


class Recorder(http.server.ThreadingHTTPServer):
    """A server on 127.0.0.1 that serves one page and notes every request,
    also those sent to it as a proxy."""

    def __init__(self, page):
        self.page, self.seen = page, []
        super().__init__(("127.0.0.1", 0), Noting)
        self.url = f"http://127.0.0.1:{self.server_port}/patcher.html"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.shutdown()
        self.server_close()


class Noting(http.server.BaseHTTPRequestHandler):
    """The page at /patcher.html, nothing anywhere else; every path asked for noted."""

    def do_GET(self):
        self.server.seen.append(self.path)
        body = b""
        if self.path == "/patcher.html":
            with open(self.server.page, "rb") as f:
                body = f.read()
        self.send_response(200 if body else 404)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    do_CONNECT = do_POST = do_HEAD = do_GET

    def log_message(self, *args):
        pass


class Selenium:
    """What Chromium and WebKit share: both speak WebDriver."""
    KEYS = {"Tab": Keys.TAB, "Enter": Keys.ENTER, "Space": Keys.SPACE} if webdriver else {}

    def run(self, body, *args):
        return self.driver.execute_script(body, *args)

    def choose(self, path):
        self.driver.find_element("id", "file").send_keys(path)

    def click(self, element_id):
        self.driver.find_element("id", element_id).click()

    def press(self, key):
        ActionChains(self.driver).send_keys(self.KEYS[key]).perform()

    def resize(self, width, height):
        self.driver.set_window_size(width, height)

    def screenshot(self, path):
        self.driver.save_screenshot(path)

    def quit(self):
        self.driver.quit()


class Chromium(Selenium):
    name = "chromium"

    def __init__(self, home, no_webassembly=False):
        self.downloads = downloads_in(home)
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1280,900",
                     f"--user-data-dir={home}/profile"]:
            options.add_argument(flag)
        if no_webassembly:
            options.add_argument("--js-flags=--jitless")
        # As a user who answered "allow" when the page saved a second file.
        options.add_experimental_option(
            "prefs", {"profile.default_content_setting_values.automatic_downloads": 1})
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        service = webdriver.chrome.service.Service(shutil.which("chromedriver"))
        self.driver = webdriver.Chrome(service=service, options=options)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})
        self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH})
        self.version = self.driver.capabilities.get("browserVersion", "?")

    def open(self, url):
        self.driver.get_log("performance")  # only what this page asks for counts
        self.driver.get_log("browser")
        self.driver.get(url)

    def requests(self):
        events = (json.loads(e["message"])["message"] for e in self.driver.get_log("performance"))
        return [e["params"]["request"]["url"] for e in events
                if e["method"] == "Network.requestWillBeSent"]

    def errors(self):
        logged = [e["message"] for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        return logged + self.run("return window.__problems")


class WebKit(Selenium):
    name = "webkit"

    def __init__(self, home, no_webassembly=False):
        # MiniBrowser saves into the user's download folder: one of our own.
        self.downloads = downloads_in(home)
        config = os.path.join(home, ".config")
        os.makedirs(config)
        with open(os.path.join(config, "user-dirs.dirs"), "w") as f:
            f.write(f'XDG_DOWNLOAD_DIR="{self.downloads}"\n')
        # No WebDriver log to read requests from: every request goes through
        # a listener of ours instead, and none is expected.
        self.proxy = Recorder(os.devnull)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config)
        if no_webassembly:
            env["JSC_useWasm"] = "0"
        options = webdriver.WebKitGTKOptions()
        options.binary_location = MINIBROWSER
        # Tab skips links, as in Safari's default settings.
        for arg in ["--automation", "--enable-tabs-to-links=false",
                    f"--proxy=http://127.0.0.1:{self.proxy.server_port}", "--ignore-host=127.0.0.1"]:
            options.add_argument(arg)
        saved = os.environ.copy()
        os.environ.update(env)  # the driver, and the browser it starts, inherit it
        try:
            self.driver = webdriver.WebKitGTK(options=options)
        finally:
            os.environ.clear()
            os.environ.update(saved)
        self.driver.set_window_size(1280, 900)
        self.version = self.driver.capabilities.get("browserVersion", "?")

    def open(self, url):
        self.proxy.seen.clear()
        self.driver.get(url)
        self.run(WATCH)

    def requests(self):
        return list(self.proxy.seen)

    # Only what happens after the page has loaded: WebDriver has no script
    # before the page's own here, and no log.
    def errors(self):
        return self.run("return window.__problems")

    def quit(self):
        super().quit()
        self.proxy.close()


class Firefox:
    name = "firefox"

    def __init__(self, home, no_webassembly=False):
        self.downloads = downloads_in(home)
        self.width, self.height = 1280, 900
        args = [shutil.which("firefox-esr"), self.downloads] + (["no-webassembly"] if no_webassembly else [])
        self.node = subprocess.Popen(["node", os.path.join(HERE, "firefox.mjs"), *args],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     env=dict(os.environ, HOME=home))
        self.version = self.call("version")

    def call(self, name, *args):
        self.node.stdin.write(json.dumps({"name": name, "args": args}) + "\n")
        self.node.stdin.flush()
        answer = self.node.stdout.readline()
        if not answer:
            raise RuntimeError(f"firefox: the driver ended during {name}")
        answer = json.loads(answer)
        if "error" in answer:
            raise RuntimeError(f"firefox: {name}: {answer['error']}")
        return answer["value"]

    def open(self, url):
        self.call("open", url, WATCH, self.width, self.height)

    def run(self, body, *args):
        return self.call("run", body, args)

    def choose(self, path):
        self.call("choose", path)

    def press(self, key):
        self.call("press", {"Space": " "}.get(key, key))

    def click(self, element_id):
        self.call("click", "#" + element_id)

    def resize(self, width, height):
        self.width, self.height = width, height
        self.call("resize", width, height)

    def screenshot(self, path):
        self.call("screenshot", path)

    def requests(self):
        return self.call("requests")

    def errors(self):
        return self.call("errors") + self.run("return window.__problems")

    def quit(self):
        try:
            self.call("quit")
        finally:
            self.node.wait(30)


ENGINES = {"chromium": Chromium, "firefox": Firefox, "webkit": WebKit}
