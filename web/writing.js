// The writing: the game's folder patched in place, or put back to the
// original, each step checked, where the browser may write to the
// player's folders.

// The backup beside a patched file that is its original: the file the patch
// turns into exactly this one. The lowest-numbered such, or null.
const BACKUP = /^DUKE3D(?:-(\d+))?\.BAK$/i;
async function original(dir, patchedFile) {
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

// A failure of the page's own writing: what happened, then what is on disk
// and what to do, with the copy still offered where the patch failed.
function refused(what, lines, head = 'notPatched') {
  showStatus('failed', [[head, { what }], ...lines, ...head === 'notPatched' ? [['orCopy']] : []]);
  reveal();
}

const read = async handle => new Uint8Array(await (await handle.getFile()).arrayBuffer());
// Whether a holds no more than the start of b: what a write of b cut off leaves.
const start = (a, b) => a.length <= b.length && same(a, b.subarray(0, a.length));

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
// backup is never there in part.
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
// for the way back; the page's one way of writing to the player's folder.
// In order, each step making the next one safe:
//   permission to write;
//   the file read again: still what the verdict was made on;
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
async function replaceInPlace() {
  const job = place, { dir, handle, was, want, restore } = job, name = handle.name, folder = dir.name;
  job.busy = [restore ? 'restoring' : 'patchingIn', { name, folder }];
  writing = job;
  arm();
  showStatus('busy', [job.busy]);
  let out = null, kept = { made: false, backup: job.backup }, cleaned = [], step = 'permission', now = null;
  const head = restore ? 'notRestored' : 'notPatched', backup = () => kept.backup;
  // Where the original is safe in a backup: where, and how to get it back by hand.
  const safe = () => backup() ? [['backupHolds', { backup: backup() }], ['byHand', { name, backup: backup() }]] : [];
  // A backup made for this attempt, removed again: whether it is gone.
  const unmake = () => kept.made && dir.removeEntry(backup()).then(() => true, () => false);
  const tidied = () => cleaned.length ? [['cleaned', { names: cleaned.join(', ') }]] : [];
  try {
    try {
      if (await dir.requestPermission({ mode: 'readwrite' }) !== 'granted')
        throw new DOMException('Not allowed.', 'NotAllowedError');
      step = 'read';
      if (!same(await read(handle), was)) step = 'changed';
      else {
        cleaned = await clean(dir, restore ? want : was);
        step = 'open';
        out = await handle.createWritable();
        if (!restore) {
          step = 'backup';
          kept = await keepBackup(dir, was);
          if (kept.reused) cleaned.push(kept.reused);
        }
        step = 'write';
        await out.write(want);
        step = 'check';
        if (!same(await read(handle), was)) step = 'changed';
        else {
          step = 'close';
          await out.close();
          out = null;
        }
      }
    } finally {
      if (out) await out.abort().catch(() => {});
    }
  } catch (e) {
    // Gone while the page worked on it: a backup made is kept, since it may
    // be the only copy.
    if (e.name === 'NotFoundError' && (step === 'read' || step === 'check')) {
      withdraw();
      refused(['vanished', { name, folder }], backup() ? safe() : [['nothingWrittenAtAll'], ['chooseFolderAgain']], head);
      return done();
    }
    const [what, ...next] = trouble(e, job, step);
    const gone = await unmake();
    refused(what, [['unchangedOnDisk', { name }], ...tidied(), ...kept.made && !gone ? [['backupKept', { backup: backup() }]] : [], ...next], head);
    return done();
  }
  if (step === 'changed') {
    await unmake();
    begin('chosenFolder', { folder });
    showStatus('failed', [[head, { what: ['changedOnDisk', { name }] }], ['nothingWrittenAtAll'], ...tidied(), ['seeAgain']]);
    reveal();
    return done();
  }
  // Written: what is on disk now is told as it is, and never written over.
  try {
    now = await read(handle);
  } catch (e) { /* told below */ }
  if (!now || !same(now, want)) {
    withdraw();
    const lines = !now ? [['goneAfter', { name, folder }]]
                : same(now, was) ? [['notApplied', { name }]] : [['changedAfter', { name }]];
    refused(lines[0], [...!now || !same(now, was) ? [['leftAsItIs']] : [], ...tidied(),
                       ...safe()], head);
    return done();
  }
  const extra = [...tidied(), ...kept.unusable?.length ? [['unusable', { names: kept.unusable.join(', ') }]] : []];
  $('sure-line').hidden = true;
  plain($('save-note'), '');
  if (restore) {
    place = null;
    $('buttons').hidden = true;
    const sum = await sha256(want);
    showSums([sum, sum], ['backupOriginal', { name }], ['backupOriginal', { name: backup() }]);
    showStatus('ok', [['restored', { name, folder, backup: backup() }], ...extra, ['backupStays', { backup: backup() }]]);
  } else {
    // The way back is offered at once: the folder now holds the patched
    // file and its original.
    place = { dir, handle, was: want, want: was, backup: backup(), restore: true };
    say($('write'), 'restoreButton').className = 'save quiet';
    showSums(await Promise.all([sha256(was), sha256(want)]), ['backupOriginal', { name: backup() }], ['namePatched', { name }]);
    const said = !kept.made ? 'keptAlready' : kept.others.includes('DUKE3D.BAK') ? 'keptOther' : 'keptNow';
    showStatus('ok', [['done', { name, folder }], ...extra, [said, { backup: backup() }],
                      ['undo', { button: ['restoreButton'] }]]);
  }
  reveal();
  return done();
}

// Where pressing again cannot help (the file is gone, or another program
// wrote it), the button goes: the status says what to do instead.
function withdraw() {
  place = null;
  $('buttons').hidden = true;
  plain($('save-note'), '');
}

// The end of a write, whatever its outcome: the page takes new choices again.
function done() {
  writing = null;
  arm();
}

// Why a write was refused, and what to do about it, as messages: the cause
// where the browser's error and the step tell it, else the likely ones.
function trouble(e, { handle, dir, want }, step) {
  const name = handle.name;
  switch (e.name) {
  case 'NotAllowedError':
    return [['notAllowed'], ['notAllowedNext']];
  case 'QuotaExceededError':
    return [['diskFull'], ['diskFullNext', { size: size(2 * want.length) }]];
  case 'ReadBackError':
    return [['backupBad'], ['backupBadNext']];
  case 'NoModificationAllowedError':
  case 'InvalidStateError':
    if (step === 'close') // the file itself is replaced only now
      return [['locked', { name }], ['lockedNext']];
    if (/read-only file/i.test(e.message))
      return [['readOnlyFile', { name }], ['readOnlyFileNext', { name }]];
    return [['readOnlyFolder', { folder: dir.name }], ['readOnlyFolderNext']];
  default:
    return [['unknownCause'], ['unknownCauseNext', { name }], ['browserSaid', { error: `${e.name}: ${e.message}` }]];
  }
}
