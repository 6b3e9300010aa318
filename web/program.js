// The program: the same one as on the command line, compiled to
// WebAssembly, run on a copy of the file in memory. The build hands over
// its glue and its module (as base64) from the build folder.
import createPatcher from 'compiled/patcher.js';
import wasm from 'compiled/patcher.wasm';

// Far above the 1.1 MB that the patch reaches, and small enough for a phone:
// the page holds a few copies of the file at once.
export const LIMIT = 64 * 1024 * 1024;
export const NAME = 'DUKE3D.EXE';

// Compiled once for the page.
const compiled = new Promise(resolve => resolve(
    WebAssembly.compile(Uint8Array.from(atob(wasm), c => c.charCodeAt(0)))));
compiled.catch(() => {}); // reported when a file is chosen

// One instance of the program serves every file, as one machine runs the
// program many times: each run starts from nothing but its own file, which
// is removed afterwards. One that went wrong is replaced by a new one.
let instance = null;

async function program() {
  if (!instance) {
    const module = await compiled;
    instance = await new Promise((resolve, reject) => {
      createPatcher({
        instantiateWasm(imports, receive) {
          WebAssembly.instantiate(module, imports).then(made => receive(made), reject);
          return {};
        },
        print() {},
        printErr() {},
        onAbort: reject,
      }).then(resolve, reject);
    });
  }
  return instance;
}

// Runs the program on a copy of the bytes, as DUKE3D.EXE in its own folder,
// and reads the file back. Resolves to its exit status, the file after the
// run, and the ranges the program writes.
export async function runPatcher(bytes) {
  const run = await program();
  try {
    run.files.set(NAME, bytes.slice()); // a copy: the program changes it where it lies
    const status = run.callMain([]);
    const ranges = [];
    for (let i = 0; i < run._patch_count(); i++)
      ranges.push([run._patch_offset(i), run._patch_size(i)]);
    const after = run.files.get(NAME);
    run.files.clear();
    return { status, after, ranges };
  } catch (e) {
    instance = null;
    throw e;
  }
}

// Null where the browser offers no hashing: it does so only for pages opened
// from a file, from this machine or from an https:// address.
export async function sha256(bytes) {
  if (!globalThis.crypto || !crypto.subtle) return null;
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  return Array.from(digest, b => b.toString(16).padStart(2, '0')).join('');
}

export const same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);
