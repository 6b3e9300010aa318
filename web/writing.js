// The writing: the game's folder read, patched in place or put back to the
// original, each step checked, where the browser may write to the player's
// folders. Nothing here touches the page: each function returns what it
// found or did, and the page tells it.
import { LIMIT, NAME, runPatcher, same } from './program.js';

const read = async handle => new Uint8Array(await (await handle.getFile()).arrayBuffer());
// Whether a holds no more than the start of b: what a write of b cut off leaves.
const start = (a, b) => a.length <= b.length && same(a, b.subarray(0, a.length));

// DUKE3D.EXE in a folder: the exact name first, then in any case; or null.
export async function findGame(dir) {
  return dir.getFileHandle(NAME).catch(async () => {
    for await (const entry of dir.values())
      if (entry.kind === 'file' && entry.name.toUpperCase() === NAME) return entry;
    return null;
  });
}

// The backup beside a patched file that is its original: the file the patch
// turns into exactly this one. The lowest-numbered such, or null.
const BACKUP = /^DUKE3D(?:-(\d+))?\.BAK$/i;
export async function original(dir, patchedFile) {
  const names = [];
  for await (const entry of dir.values())
    if (entry.kind === 'file' && BACKUP.test(entry.name)) names.push(entry.name);
  names.sort((a, b) => (BACKUP.exec(a)[1] || 1) - (BACKUP.exec(b)[1] || 1));
  for (const name of names) {
    const bytes = await look(dir, name);
    if (bytes && bytes.length <= LIMIT && !same(bytes, patchedFile) && same((await runPatcher(bytes)).after, patchedFile))
      return { name, bytes };
  }
  return null;
}

// Writes the whole file, then reads it back; throws if it does not hold those bytes.
async function rewrite(handle, bytes) {
  const out = await handle.createWritable();
  try {
    await out.write(bytes);
  } catch (e) {
    await out.abort().catch(() => {});
    throw e;
  }
  await out.close();
  if (!same(await read(handle), bytes))
    throw new DOMException('The file did not read back as written.', 'ReadBackError');
}

// What a name in the folder holds: its bytes, null where there is nothing of
// that name, or false where the browser cannot use it (a folder, a file it
// may not read). A link is hidden from the page: it looks like nothing.
async function look(dir, name) {
  try {
    return await read(await dir.getFileHandle(name));
  } catch (e) {
    return e.name === 'NotFoundError' ? null : false;
  }
}

// What an earlier write, cut off, left in the folder: the browser's working
// copies of the files the page writes (NAME.crswap) and backups begun under
// a name of their own that hold no more than the start of the original.
// Removed; returns their names.
const SWAP = /^DUKE3D(\.EXE|(-\d+)?\.BAK(\.part)?)(\.\d+)?\.crswap$/i;
const PART = /^DUKE3D(-\d+)?\.BAK\.part$/i;
async function clean(dir, original) {
  const left = [];
  for await (const entry of dir.values())
    if (entry.kind === 'file' && (SWAP.test(entry.name) || PART.test(entry.name) && start(await read(entry), original)))
      left.push(entry.name);
  for (const name of left)
    await dir.removeEntry(name);
  return left.sort();
}

// The backup: DUKE3D.BAK, or the first name after it that can be used. One
// that already holds these bytes is the backup; one that holds another file
// is never touched, nor a name the browser cannot use (a folder, a link, a
// file it may not read). One that holds no more than the start of these
// bytes is what a write cut off left: it is written anew. The bytes go to a
// name of their own first and then take the backup's name whole, so that a
// backup is never there in part. Returns its name, whether it was made now,
// and the names passed over.
async function keepBackup(dir, bytes) {
  const kept = { others: [], unusable: [] };
  for (let n = 1; n < 100; n++) {
    const name = n === 1 ? 'DUKE3D.BAK' : `DUKE3D-${n}.BAK`, part = name + '.part';
    const held = await look(dir, name);
    if (held && same(held, bytes))
      return { ...kept, backup: name, made: false };
    if (held === false || held && !start(held, bytes) || await look(dir, part) !== null) {
      kept[held && !start(held, bytes) ? 'others' : 'unusable'].push(name);
      continue;
    }
    const handle = await dir.getFileHandle(part, { create: true });
    try {
      await rewrite(handle, bytes);
      await handle.move(name);
    } catch (e) {
      await dir.removeEntry(part).catch(() => {});
      if (e.name !== 'NotFoundError' && e.name !== 'InvalidModificationError') throw e;
      kept.unusable.push(name); // a link or a folder took the name meanwhile
      continue;
    }
    return { ...kept, backup: name, made: true, reused: held ? name : null };
  }
  throw new DOMException('No name for the backup.', 'NoBackupNameError');
}

// The file replaced where it is, for the patch (its backup kept first) or
// for the way back (job.restore, from job.backup): the page's one way of
// writing to the player's folder. job.was is what the verdict was made on,
// job.want what is to be written. In order, each step making the next one safe:
//   permission to write;
//   the file read again: still what the verdict was made on, else nothing is touched;
//   the leftovers of an attempt cut off removed;
//   the browser's writer opened: the file may be written (learnt before any backup);
//   the backup written and checked, for the patch;
//   the new bytes written to the writer's own copy of the file;
//   the file read once more, unchanged, right before that copy takes its place;
//   the file read back.
// Until the writer closes, the file itself is untouched: a failure before
// then leaves it as it was, and a backup made for it is removed. Between the
// last read and the close, a change by another program would be lost: the
// browser offers no way to close that gap.
//
// Returns what happened: the step it reached; why it stopped (cause: null
// once written, else 'changed', 'gone' or the browser's refusal, with its
// words as error); whether the file was replaced (written); what the file
// holds now (now: 'was', 'want', 'other' or 'gone'); the backup of the
// original in the folder, if any, and whether this attempt made it; the
// names passed over for the backup (others: another file, unusable: not a
// file the browser may use); and the leftovers removed (cleaned).
export async function replaceInPlace({ dir, handle, was, want, backup = null, restore = false }) {
  const it = { step: 'permission', cause: null, written: false, now: 'was', backup, made: false,
               others: [], unusable: [], cleaned: [] };
  let out = null;
  // Stops before the writer closes: its copy is dropped, so the file is as
  // it was, and a backup made for this attempt is removed again, except
  // when the file itself is gone: then the backup may be the only copy.
  const stop = async (cause, now) => {
    if (out) await out.abort().catch(() => {});
    if (it.made && now !== 'gone' && await dir.removeEntry(it.backup).then(() => true, () => false))
      Object.assign(it, { backup, made: false });
    return Object.assign(it, { cause, now });
  };
  try {
    if (await dir.requestPermission({ mode: 'readwrite' }) !== 'granted')
      throw new DOMException('Not allowed.', 'NotAllowedError');
    it.step = 'read';
    if (!same(await read(handle), was))
      return stop('changed', 'other');
    it.cleaned = await clean(dir, restore ? want : was);
    it.step = 'open';
    out = await handle.createWritable();
    if (!restore) {
      it.step = 'backup';
      const { reused, ...kept } = await keepBackup(dir, was);
      Object.assign(it, kept);
      if (reused) it.cleaned.push(reused); // an empty or partial backup, written anew
    }
    it.step = 'write';
    await out.write(want);
    it.step = 'check';
    if (!same(await read(handle), was))
      return stop('changed', 'other');
    it.step = 'close';
    await out.close();
    out = null;
  } catch (e) {
    if (e.name === 'NotFoundError' && (it.step === 'read' || it.step === 'check'))
      return stop('gone', 'gone'); // moved or deleted while the page worked on it
    it.error = `${e.name}: ${e.message}`;
    return stop(refusal(e, it.step), 'was');
  }
  // Written: what is on disk now is told as it is, and never written over.
  it.written = true;
  const now = await read(handle).catch(() => null);
  it.now = !now ? 'gone' : same(now, want) ? 'want' : same(now, was) ? 'was' : 'other';
  return it;
}

// Why the browser refused to write, from its error's name and the step.
function refusal(e, step) {
  switch (e.name) {
  case 'NotAllowedError':
    return 'notAllowed';
  case 'QuotaExceededError':
    return 'diskFull';
  case 'ReadBackError':
    return 'backupBad';
  case 'NoModificationAllowedError':
  case 'InvalidStateError':
    if (step === 'close') // the file itself is replaced only now: another program holds it
      return 'locked';
    return /read-only file/i.test(e.message) ? 'readOnlyFile' : 'readOnlyFolder';
  default:
    return 'unknown';
  }
}
