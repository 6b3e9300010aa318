// Drives Firefox for tests/browsers.py, which has no WebDriver for it: one
// JSON command a line on stdin, one JSON answer a line on stdout.
//
// Usage: node firefox.mjs FIREFOX DOWNLOADS [no-webassembly]
import { createInterface } from 'node:readline';
import puppeteer from 'puppeteer-core';

const [executablePath, downloadPath, flag] = process.argv.slice(2);
const browser = await puppeteer.launch({
  browser: 'firefox', executablePath, headless: true,
  // As in browsers whose hardened modes switch WebAssembly off.
  extraPrefsFirefox: flag === 'no-webassembly' ? { 'javascript.options.wasm': false } : {},
});
let context = null, page = null, requests = [], errors = [];

const commands = {
  // A fresh private window on url: no history, its own downloads folder.
  async open(url, watch, width, height) {
    if (context) await context.close();
    context = await browser.createBrowserContext({ downloadBehavior: { policy: 'allow', downloadPath } });
    page = await context.newPage();
    requests = [];
    errors = [];
    page.on('request', r => requests.push(r.url()));
    page.on('pageerror', e => errors.push(String(e)));
    page.on('console', m => { if (m.type() === 'error') errors.push(m.text()); });
    await page.setViewport({ width, height });
    await page.evaluateOnNewDocument(watch);
    await page.goto(url);
  },
  // A script body as WebDriver runs one: arguments in `arguments`, a
  // promise returned is waited for.
  run: (body, args) => page.evaluate(`(function () { ${body} }).apply(null, ${JSON.stringify(args)})`),
  async choose(path) { await (await page.$('#file')).uploadFile(path); },
  press: key => page.keyboard.press(key),
  click: selector => page.click(selector),
  requests: () => requests,
  errors: () => errors,
  resize: (width, height) => page.setViewport({ width, height }),
  async screenshot(path) { await page.screenshot({ path, fullPage: true }); },
  version: () => browser.version(),
  quit: () => browser.close(),
};

for await (const line of createInterface({ input: process.stdin })) {
  const { name, args } = JSON.parse(line);
  try {
    const value = await commands[name](...args);
    process.stdout.write(JSON.stringify({ value: value ?? null }) + '\n');
  } catch (e) {
    process.stdout.write(JSON.stringify({ error: String(e) }) + '\n');
  }
  if (name === 'quit') process.exit(0);
}
