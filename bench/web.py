#!/usr/bin/env python3
"""Times patcher.html in each browser engine against a plain JavaScript loop.

Usage: xvfb-run -a /usr/bin/python3 bench/web.py [PATH/TO/patcher.html]
       (default: build-web/patcher.html)

In one page, for a 1.5 MiB file already in memory, it times the path from
the file's bytes to the patched copy ready for saving, two ways, alternating:
the page's own (its file written into the program, the program run, the
file read back) and a minimal
hand-written loop that copies the bytes and writes the seven ranges. Both
end in the Blob that the page offers. It then times the page from a chosen
1.2 MB file to its verdict laid out. It runs in each engine that
tests/browsers.py can start here (Chromium, Firefox, WebKit) and says why it
skips any other. Exits 1 when a bar is missed.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tests"))
import browsers  # noqa: E402  the tests' own way into each engine

RUNS = 101   # samples of each, alternating
BATCH = 10   # runs timed together in one sample
MAX_SIZE = 120_000  # bytes of patcher.html
MAX_RATIO = 2.0     # the page's path against the loop's, medians
VERDICTS = 21       # files chosen one after another
MAX_VERDICT = 100   # ms from a 1.2 MB file handed to the page to its verdict laid out, median

# The loop and the timing, run inside the page. Its table is written out
# here, as a reference patcher would hold it.
SCRIPT = """
const [runs, batch] = arguments;
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
  const result = await bench.runPatcher(bytes);
  return new Blob([result.after], {type: 'application/octet-stream'});
}
return (async () => {
  const bytes = new Uint8Array(1536 * 1024).fill(0xff);
  const times = {program: [], loop: []};
  const same = new Uint8Array(await (await program(bytes)).arrayBuffer()).join() ===
               new Uint8Array(await loop(bytes).arrayBuffer()).join();
  for (let r = 0; r < runs; r++) {
    for (const [name, f] of r % 2 ? [['loop', loop], ['program', program]]
                                  : [['program', program], ['loop', loop]]) {
      // A batch per sample: some engines round the clock to a whole millisecond.
      const t0 = performance.now();
      for (let b = 0; b < batch; b++) await f(bytes);
      times[name].push((performance.now() - t0) / batch);
    }
  }
  return {same, times};
})().catch(e => ({error: String(e)}));
"""


# The page's own way from a chosen file to its verdict: the file read, the
# program run, both checksums, the table built and the page laid out again.
VERDICT = """
const [count] = arguments;
const bytes = new Uint8Array(1200000).fill(0xff);
bytes.set([0x4d, 0x5a]);
const input = document.getElementById('file'), status = document.getElementById('status');
const decided = () => new Promise(done => new MutationObserver((_, seen) => {
  if (/\\b(ok|warn|failed)\\b/.test(status.className)) { seen.disconnect(); done(); }
}).observe(status, {attributes: true}));
return (async () => {
  const times = [];
  for (let i = 0; i < count; i++) {
    status.className = '';
    const verdict = decided(), chosen = new DataTransfer();
    const t0 = performance.now();
    chosen.items.add(new File([bytes], 'DUKE3D.EXE'));
    input.files = chosen.files;
    input.dispatchEvent(new Event('change'));
    await verdict;
    document.body.offsetHeight;
    times.push(performance.now() - t0);
  }
  return {times, verdict: status.className};
})().catch(e => ({error: String(e)}));
"""


def program(page):
    """The page's own program module, web/program.js, with the glue and the
    WebAssembly built beside the page, bundled as the page bundles it, for a
    script to call as bench.runPatcher: the page itself keeps it to itself."""
    return subprocess.run([os.path.join(ROOT, "web", "node_modules", ".bin", "esbuild"),
                           os.path.join(ROOT, "web", "program.js"), "--bundle", "--format=iife", "--global-name=bench",
                           f"--alias:compiled={os.path.dirname(page)}", "--loader:.wasm=base64",
                           "--define:import.meta.url=location.href", "--log-level=warning"],
                          stdout=subprocess.PIPE, text=True, check=True).stdout


def median(xs):
    xs = sorted(xs)
    return xs[len(xs) // 2]


def bench(engine, page):
    """The medians in one engine, program then loop, in milliseconds."""
    home = tempfile.mkdtemp(prefix=f"patcher-bench-{engine}-")
    browser = browsers.ENGINES[engine](home)
    try:
        browser.open("file://" + page)
        result = browser.run(program(page) + SCRIPT, RUNS, BATCH)
        chosen = browser.run(VERDICT, VERDICTS)
        version = browser.version
    finally:
        browser.quit()
        shutil.rmtree(home)
    for run in [result, chosen]:
        if "error" in run:
            sys.exit(f"bench: {engine}: {run['error']}")
    if chosen["verdict"] != "status ok":
        sys.exit(f"bench: {engine}: the verdict on a clean file was {chosen['verdict']!r}")
    if not result["same"]:
        sys.exit(f"bench: {engine}: the program and the loop leave different files")
    return version, median(result["times"]["program"]), median(result["times"]["loop"]), median(chosen["times"])


def main():
    page = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-web/patcher.html")
    size = os.path.getsize(page)
    ok = size <= MAX_SIZE
    print(f"patcher.html: {size:,} bytes (bar: at most {MAX_SIZE:,})")
    print(f"a 1.5 MiB file, {RUNS} samples of {BATCH} runs each, alternating; medians of a run")
    for engine in browsers.ENGINES:
        why = browsers.missing(engine)
        if why:
            print(f"{engine:9} skipped: {why}")
            continue
        version, program, loop, verdict = bench(engine, page)
        ratio = program / loop
        ok = ok and ratio <= MAX_RATIO and verdict < MAX_VERDICT
        print(f"{engine:9} program {program:6.2f} ms, loop {loop:6.2f} ms, "
              f"program / loop {ratio:.2f} (bar: at most {MAX_RATIO:.1f}); {version}")
        print(f"{'':9} a 1.2 MB file to its verdict: {verdict:.1f} ms, median of {VERDICTS} "
              f"(bar: under {MAX_VERDICT})")
    print("bars: " + ("all met" if ok else "MISSED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
