// Drives Chromium or Firefox for tests/browsers.py: one JSON command a line
// on stdin, one JSON answer a line on stdout.
//
// Usage: node puppeteer.mjs chrome|firefox EXECUTABLE DOWNLOADS [no-webassembly] [lang=TAG,TAG...]
import fs from 'node:fs';
import path from 'node:path';
import { createInterface } from 'node:readline';
import puppeteer from 'puppeteer-core';

const [engine, executablePath, downloadPath, ...flags] = process.argv.slice(2);
const noWasm = flags.includes('no-webassembly');  // as in browsers whose hardened modes switch it off
// The reader's languages, in order: English unless told, whatever the machine's locale.
const languages = flags.find(f => f.startsWith('lang='))?.slice(5) || 'en-US';
// Chromium's own profile lets pages write to the folders they are given
// without asking; its private windows ask, and no one answers: refused.
const userDataDir = path.join(downloadPath, '..', 'profile');
fs.mkdirSync(path.join(userDataDir, 'Default'), { recursive: true });
fs.writeFileSync(path.join(userDataDir, 'Default', 'Preferences'),
                 JSON.stringify({ profile: { default_content_setting_values: { file_system_write_guard: 1 } } }));
const browser = await puppeteer.launch({
  browser: engine, executablePath, headless: true, userDataDir: engine === 'chrome' ? userDataDir : undefined,
  args: engine === 'chrome' ? ['--no-sandbox', '--disable-gpu', '--disable-quic', '--deny-permission-prompts',
                               ...(noWasm ? ['--js-flags=--jitless'] : []),
                               '--accept-lang=' + languages] : [],
  extraPrefsFirefox: {
    // Its downloads panel would take the keyboard from the page after each save.
    'browser.download.alwaysOpenPanel': false,
    ...(noWasm ? { 'javascript.options.wasm': false } : {}),
    'intl.accept_languages': languages,
  },
});
let context = null, page = null, requests = [], errors = [], viewport = { width: 1280, height: 900 };

const commands = {
  // A fresh private window on url: no history, its own downloads folder;
  // or, where the page may write to folders, a new tab in the profile.
  async open(url, watch, writable) {
    const [was, old] = [page, context];
    context = writable ? null : await browser.createBrowserContext({ downloadBehavior: { policy: 'allow', downloadPath } });
    page = await (context || browser).newPage();
    await (old || was)?.close();
    [requests, errors] = [[], []];
    page.on('request', r => requests.push(r.url()));
    page.on('pageerror', e => errors.push(String(e)));
    page.on('console', m => { if (m.type() === 'error') errors.push(m.text()); });
    await page.setViewport(viewport);
    await page.evaluateOnNewDocument(watch);
    await page.goto(url);
  },
  // A script body as WebDriver runs one: arguments in `arguments`, a
  // promise returned is waited for.
  run: (body, ...args) => page.evaluate(`(function () { ${body} }).apply(null, ${JSON.stringify(args)})`),
  async choose(path) { await (await page.$('#file')).uploadFile(path); },
  // Files dragged from the desktop onto the page, through the browser's own
  // drag and drop (Chromium only): enter, over, then drop.
  async drop(paths) {
    const target = await page.$('#drop');
    await target.scrollIntoView();  // the mouse drops only where it can point
    const box = await target.boundingBox();
    const at = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    const data = { items: paths.length ? [] : [{ mimeType: 'text/plain', data: 'a link' }],
                   files: paths, dragOperationsMask: 1 };
    for (const step of ['dragEnter', 'dragOver', 'drop']) await page.mouse[step](at, data);
  },
  press: key => page.keyboard.press(key === 'Space' ? ' ' : key),
  click: id => page.click('#' + id),
  requests: () => requests,
  errors: async () => [...errors, ...await page.evaluate('window.__problems')],
  resize: (width, height) => page.setViewport(viewport = { width, height }),
  async screenshot(path) { await page.screenshot({ path, fullPage: true }); },
  version: () => browser.version(),
  pid: () => browser.process().pid,  // its processes' group, for a test that kills them
  quit: () => browser.close(),
};

for await (const line of createInterface({ input: process.stdin })) {
  const { name, args } = JSON.parse(line);
  const answer = await Promise.resolve().then(() => commands[name](...args))
    .then(value => ({ value: value ?? null }), e => ({ error: String(e) }));
  process.stdout.write(JSON.stringify(answer) + '\n');
  if (name === 'quit') process.exit(0);
}
