// The page: what is chosen or dropped, from the choice to the verdict, the
// controls, and what the page is showing, which only this module changes.
import { $, element, say, speak, preferred, size, names, unpack } from './words.js';
import { LIMIT, NAME, runPatcher, sha256, same } from './program.js';
import { showStatus, reveal, refused, showResult } from './verdict.js';
import { findGame, original, replaceInPlace } from './writing.js';
import { showOutcome } from './outcome.js';

let current = 0;    // which choice the page is showing; older runs are dropped
let saved = null;   // what the save button hands over: { name, url }
let place = null;   // what the write button writes: { dir, handle, was, want, backup, restore }
let writing = null; // the write under way, as its status line: one at a time

// Where the browser lets a page write to the player's own files, the page
// patches the file in its folder; elsewhere it offers a patched copy.
const inPlace = typeof showDirectoryPicker === 'function' && typeof FileSystemFileHandle === 'function' &&
                ['createWritable', 'move'].every(m => m in FileSystemFileHandle.prototype);

// A new choice: earlier runs are dropped along with their offer.
// Returns the number that tells this run from later ones.
function begin(...chosen) {
  say($('chosen'), ...chosen);
  $('result').hidden = true;
  if (saved) URL.revokeObjectURL(saved.url);
  saved = place = null;
  return ++current;
}

// What went wrong, then what to do about it.
function fail(what, next) {
  showStatus('failed', [what, ['nothingOffered'], next]);
  reveal();
}

// One file, from choosing to the verdict; folder is where it was found, if
// the page may write there. Each step reports its own failure.
async function patch(file, folder = null, run = begin('chosen', { name: file.name, size: size(file.size) })) {
  if (file.size > LIMIT) {
    fail(['tooLarge', { name: file.name, size: size(file.size) }], ['tooLargeNext', { mib: LIMIT / 1024 / 1024 }]);
    return;
  }
  showStatus('busy', [['checking']]);
  let before, result;
  try {
    before = new Uint8Array(await file.arrayBuffer());
  } catch (e) {
    if (run === current)
      fail(['unreadable', { name: file.name }], ['unreadableNext']);
    return;
  }
  try {
    result = await runPatcher(before);
  } catch (e) {
    if (run === current)
      fail(['noRun'], ['noRunNext']);
    return;
  }
  if (run !== current)
    return;
  if (result.status !== 0) {
    fail(['noWrite', { status: String(result.status) }], ['reload']);
    return;
  }
  // A patched file in its folder: the way back, where a backup beside it is its original.
  if (folder && same(result.after, before))
    folder.original = await original(folder.dir, before);
  // The original's checksum first: for the way back, the backup's.
  const sums = await Promise.all(folder?.original ? [sha256(folder.original.bytes), sha256(before)]
                                                  : [sha256(before), sha256(result.after)]);
  if (run !== current)
    return;
  const offer = showResult(file, folder, before, result, sums);
  if (offer.write)
    place = offer.write;
  else
    saved = { name: file.name, url: URL.createObjectURL(new Blob([offer.save], { type: 'application/octet-stream' })) };
  arm();
  reveal();
}

// A folder, from the picker or a drop: finds DUKE3D.EXE in it and reads it
// as a chosen file.
async function openFolder(picked) {
  let dir;
  try {
    dir = await picked;
  } catch (e) {
    if (e.name !== 'AbortError') { // cancelled: nothing changes
      refused(['folderRefused'], [['changedNothing'], ['systemFolders']]);
      reveal();
    }
    return;
  }
  const run = begin('chosenFolder', { folder: dir.name });
  let handle, file;
  try {
    handle = await findGame(dir);
    file = handle && await handle.getFile();
  } catch (e) {
    if (run === current) {
      refused(['folderUnreadable', { folder: dir.name }], [['changedNothing'], ['chooseFolderAgain']]);
      reveal();
    }
    return;
  }
  if (run !== current)
    return;
  if (!handle) {
    showStatus('warn', [['noExe', { name: NAME, folder: dir.name }], ['noExeNext', { name: NAME }]]);
    reveal();
    return;
  }
  say($('chosen'), 'chosenInFolder', { name: handle.name, size: size(file.size), folder: dir.name });
  await patch(file, { dir, handle }, run);
}

// The file written in its folder, or put back, as the write button offers;
// the outcome told, and what the button offers next.
async function write() {
  const job = place;
  writing = [job.restore ? 'restoring' : 'patchingIn', { name: job.handle.name, folder: job.dir.name }];
  arm();
  showStatus('busy', [writing]);
  const it = await replaceInPlace(job);
  place = await showOutcome(it, job);
  if (it.cause === 'changed') // what was shown no longer holds: the folder is to be seen again
    begin('chosenFolder', { folder: job.dir.name });
  writing = null;
  arm();
  reveal();
}

// The buttons that act on a verdict: live once the player has said a
// doubtful file is theirs, and never while the page writes to a folder,
// when nothing new can be chosen either.
function arm() {
  $('save').disabled = $('write').disabled = !!writing || !$('sure-line').hidden && !$('sure').checked;
  $('sure').disabled = $('folder').disabled = $('file').disabled = !!writing;
}

$('save').addEventListener('click', () => {
  if (!saved) return;
  element('a', { href: saved.url, download: saved.name }).click();
});
$('write').addEventListener('click', () => {
  if (place && !writing) write();
});
$('sure').addEventListener('change', arm);
$('file').addEventListener('change', e => {
  const file = e.target.files[0];
  // Emptied, so that choosing the same file again (changed on disk since)
  // is a change too and is read afresh.
  e.target.value = '';
  if (file) patch(file);
});
// A change of language shows at once, and the address keeps it for a
// bookmark or a shared link.
$('lang').addEventListener('change', () => {
  speak($('lang').value);
  location.replace('#lang=' + $('lang').value);
});
if (inPlace) {
  $('in-place').hidden = false;
  $('status').firstChild.dataset.m = 'nothingYetFolder';
  $('file-label').dataset.m = 'fileLabelCopy';
  $('backup-note').dataset.m = 'backupInPlace';
  $('folder').addEventListener('click', () => openFolder(showDirectoryPicker({ id: 'game', mode: 'readwrite' })));
}
// The page speaks once its tables are unpacked; the list of languages
// filled is the sign that it is ready.
unpack().then(() => {
  speak(preferred());
  addEventListener('hashchange', () => speak(preferred()));
}, () => { // the tables cannot be unpacked here: the note, in the reader's language, unpacked
  const notes = JSON.parse($('too-old').textContent), code = preferred(Object.keys(notes)), [note, dir] = notes[code];
  $('status').className = 'status failed';
  $('status').replaceChildren(element('p', { lang: code, dir, textContent: note }));
});
// The whole page takes a dropped file, so a near miss does not open it in the browser.
addEventListener('dragover', e => { e.preventDefault(); $('drop').classList.add('over'); });
addEventListener('dragleave', () => $('drop').classList.remove('over'));
addEventListener('drop', e => {
  e.preventDefault();
  $('drop').classList.remove('over');
  if (writing) { // taken once the write has ended: the write is told about its own folder
    showStatus('busy', [writing, ['busyWait']]);
    return;
  }
  const files = Array.from(e.dataTransfer.files);
  // A folder's handle is there only while the drop event lasts.
  const item = files.length === 1 && inPlace && Array.from(e.dataTransfer.items).find(i => i.kind === 'file');
  if (item && item.webkitGetAsEntry && item.webkitGetAsEntry()?.isDirectory) {
    openFolder(item.getAsFileSystemHandle());
    return;
  }
  if (files.length === 1) {
    patch(files[0]);
    return;
  }
  const n = files.length;
  begin(...n ? ['dropped', { n, names: names(files.map(f => f.name)) }] : ['droppedNothing']);
  showStatus('warn', [n ? ['droppedMany', { n }] : ['droppedNotFile'], ['dropOne']]);
  reveal();
});
