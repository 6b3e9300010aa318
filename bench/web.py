#!/usr/bin/env python3
"""Times patcher.html in headless Chromium against a plain JavaScript loop.

Usage: /usr/bin/python3 bench/web.py [PATH/TO/patcher.html]   (default: build-web/patcher.html)

In one page, for a 1.5 MiB file already in memory, it times the path from
the file's bytes to the patched copy ready for saving, two ways, alternating:
the page's own (a fresh instance of the program per run) and a minimal
hand-written loop that copies the bytes and writes the seven ranges. Both
end in the Blob that the page offers. Needs Selenium, Chromium and
chromedriver (Debian: python3-selenium, chromium, chromium-driver).
Exits 1 when a bar is missed.
"""
import os
import shutil
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

RUNS = 101
MAX_SIZE = 120_000  # bytes of patcher.html
MAX_RATIO = 2.0     # the page's path against the loop's, medians

# The loop and the timing, run inside the page. Its table is written out
# here, as a reference patcher would hold it.
SCRIPT = """
const [runs, done] = arguments;
const table = [[0x115768, 'TARVENOK T.C.'], [0x115789, 'MECHANISED MATCH'],
               [0x1157AA, 'SQUADRON ONLY'], [0x1157CB, 'OLA VRENT'], [0x1157DF, 'DAEL MURHAX'],
               [0x1157F3, 'IVO QUENTH'], [0x115807, 'JUN WAVERTOL']];
function loop(bytes) {
  const end = table[6][0] + table[6][1].length + 3;
  const out = new Uint8Array(Math.max(bytes.length, end));
  out.set(bytes);
  for (const [offset, text] of table) {
    for (let i = 0; i < text.length; i++) out[offset + i] = text.charCodeAt(i);
    out.fill(0, offset + text.length, offset + text.length + 3);
  }
  return new Blob([out], {type: 'application/octet-stream'});
}
async function program(bytes) {
  const result = await runPatcher(bytes);
  return new Blob([result.after], {type: 'application/octet-stream'});
}
(async () => {
  const bytes = new Uint8Array(1536 * 1024).fill(0xff);
  const times = {program: [], loop: []};
  const same = new Uint8Array(await (await program(bytes)).arrayBuffer()).join() ===
               new Uint8Array(await loop(bytes).arrayBuffer()).join();
  for (let r = 0; r < runs; r++) {
    for (const [name, f] of r % 2 ? [['loop', loop], ['program', program]]
                                  : [['program', program], ['loop', loop]]) {
      const t0 = performance.now();
      await f(bytes);
      times[name].push(performance.now() - t0);
    }
  }
  done({same, times});
})().catch(e => done({error: String(e)}));
"""


def median(xs):
    xs = sorted(xs)
    return xs[len(xs) // 2]


def main():
    page = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-web/patcher.html")
    size = os.path.getsize(page)
    profile = tempfile.mkdtemp(prefix="patcher-bench-")
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", f"--user-data-dir={profile}"]:
        options.add_argument(flag)
    browser = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
    try:
        browser.set_script_timeout(300)
        browser.get("file://" + page)
        version = browser.capabilities.get("browserVersion", "?")
        result = browser.execute_async_script(SCRIPT, RUNS)
    finally:
        browser.quit()
        shutil.rmtree(profile)
    if "error" in result:
        sys.exit(f"bench: {result['error']}")
    if not result["same"]:
        sys.exit("bench: the program and the loop leave different files")

    program, loop = median(result["times"]["program"]), median(result["times"]["loop"])
    ratio = program / loop
    ok = size <= MAX_SIZE and ratio <= MAX_RATIO
    print(f"Chromium {version}, a 1.5 MiB file, {RUNS} runs each, alternating")
    print(f"patcher.html: {size:,} bytes (bar: at most {MAX_SIZE:,})")
    print(f"program, fresh instance  median {program:6.2f} ms")
    print(f"JavaScript loop          median {loop:6.2f} ms")
    print(f"program / loop: {ratio:.2f} (bar: at most {MAX_RATIO:.1f})")
    print("bars: " + ("all met" if ok else "MISSED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
