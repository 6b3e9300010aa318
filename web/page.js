// The page: what is chosen or dropped, from the choice to the verdict, and
// the controls.

let current = 0;    // which choice the page is showing; older runs are dropped
let saved = null;   // what the save button hands over: { name, url }
let place = null;   // what the folder button writes: { dir, handle, was, want, backup, restore }
let writing = null; // the write under way in a folder, if any: one at a time

// Where the browser lets a page write to the player's own files, the page
// patches the file in its folder; elsewhere it offers a patched copy.
const inPlace = typeof showDirectoryPicker === 'function' && typeof FileSystemFileHandle === 'function' &&
                ['createWritable', 'move'].every(m => m in FileSystemFileHandle.prototype);

// The verdict: its style, and its lines, each [message, values].
function showStatus(kind, lines) {
  $('status').className = 'status ' + kind;
  $('status').replaceChildren(...lines.map(([key, values]) => say(element('p', {}), key, values)));
}

// On a small screen, the verdict and its button are brought into view.
function reveal() {
  const buttons = $('result').hidden ? $('status') : $('buttons');
  if (buttons.getBoundingClientRect().bottom > innerHeight || $('status').getBoundingClientRect().top < 0)
    $('status').scrollIntoView({ block: 'start' });
}

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
    fail(['tooLarge', { name: file.name, size: size(file.size) }],
         ['tooLargeNext', { mib: LIMIT / 1024 / 1024, size: size(LIMIT) }]);
    return;
  }
  showStatus('busy', [['patching']]);
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
  const sums = await Promise.all([sha256(before), sha256(folder?.original?.bytes || result.after)]);
  if (run === current)
    showResult(file, folder, before, result, sums);
}

// A folder, from the picker or a drop: finds DUKE3D.EXE in it (the exact
// name first, then in any case) and reads it as a chosen file.
async function openFolder(picked) {
  let dir;
  try {
    dir = await picked;
  } catch (e) {
    if (e.name !== 'AbortError') // cancelled: nothing changes
      refused(['folderRefused'], [['changedNothing'], ['systemFolders']]);
    return;
  }
  const run = begin('chosenFolder', { folder: dir.name });
  let handle = null, file;
  try {
    handle = await dir.getFileHandle(NAME).catch(async () => {
      for await (const entry of dir.values())
        if (entry.kind === 'file' && entry.name.toUpperCase() === NAME) return entry;
      return null;
    });
    file = handle && await handle.getFile();
  } catch (e) {
    if (run === current)
      refused(['folderUnreadable', { folder: dir.name }], [['changedNothing'], ['chooseFolderAgain']]);
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
  if (place && !writing) replaceInPlace();
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
  location.replace('#lang=' + lang);
});
addEventListener('hashchange', () => messages && speak(preferred()));
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
  for (const code of Object.keys(messages))
    $('lang').append(element('option', { value: code, lang: code, textContent: messages[code].language }));
  speak(preferred());
}, () => {
  $('status').className = 'status failed';
  $('status').textContent = 'This browser is too old for this page: use an up-to-date Chrome, Edge, Firefox or Safari.';
});
// The whole page takes a dropped file, so a near miss does not open it in the browser.
addEventListener('dragover', e => { e.preventDefault(); $('drop').classList.add('over'); });
addEventListener('dragleave', () => $('drop').classList.remove('over'));
addEventListener('drop', e => {
  e.preventDefault();
  $('drop').classList.remove('over');
  if (writing) { // taken once the write has ended: the write is told about its own folder
    showStatus('busy', [writing.busy, ['busyWait']]);
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
  begin(...n ? ['dropped', { n, names: files.map(f => f.name).join(', ') }] : ['droppedNothing']);
  showStatus('warn', [n ? ['droppedMany', { n }] : ['droppedNotFile'], ['dropOne']]);
  reveal();
});
