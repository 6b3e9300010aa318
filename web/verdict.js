// The verdict: the checks that tell a doubtful file apart, and what the
// page shows of a run: its status, the table of the seven places and the
// checksums.
import { $, element, say, plain, size } from './words.js';
import { NAME, same } from './program.js';

// The status: its style, and its lines, each [message, values].
export function showStatus(kind, lines) {
  $('status').className = 'status ' + kind;
  $('status').replaceChildren(...lines.map(([key, values]) => say(element('p', {}), key, values)));
}

// On a small screen, the status and its buttons are brought into view,
// also when the status has been scrolled past.
export function reveal() {
  const buttons = $('result').hidden ? $('status') : $('buttons');
  if (buttons.getBoundingClientRect().bottom > innerHeight || $('status').getBoundingClientRect().top < 0)
    $('status').scrollIntoView({ block: 'start' });
}

// A failure of the page's own writing or reading of a folder: what
// happened, then what is on disk and what to do, with the copy still
// offered where the patch failed.
export function refused(what, lines, head = 'notPatched') {
  showStatus('failed', [[head, { what }], ...lines, ...head === 'notPatched' ? [['orCopy']] : []]);
}

// Bytes as text: printable ones as they are, the rest escaped, left to right
// in every language. A line may break anywhere but inside an escape.
function shown(bytes) {
  const code = element('code', { dir: 'ltr' });
  let printable = '';
  for (const b of bytes) {
    if (b >= 0x20 && b < 0x7f && b !== 0x5c) {
      printable += String.fromCharCode(b);
      continue;
    }
    const escape = b === 0 ? '\\0' : b === 0x5c ? '\\\\' : '\\x' + b.toString(16).toUpperCase().padStart(2, '0');
    code.append(printable, element('span', { className: 'esc', textContent: escape }), element('wbr', {}));
    printable = '';
  }
  code.append(printable);
  return code;
}

// In the file the patch is made for, each place it writes to holds a name or
// a phrase padded with zeros, and the file starts as every program file does.
// A control byte there (zero and everything from 0x20 up count as text, so
// that letters of an old code page pass) means something else is in its
// place. Returns what failed, in words, and the ranges that failed.
function doubts(before, ranges) {
  const control = b => (b > 0 && b < 0x20) || b === 0x7f;
  const odd = ranges.filter(([at, n]) => before.subarray(at, at + n).some(control));
  const short = ranges.filter(([at, n]) => at + n > before.length);
  const reach = Math.max(...ranges.map(([at, n]) => at + n));
  const lines = [];
  if (before[0] !== 0x4d || before[1] !== 0x5a)
    lines.push(['notMZ']);
  if (odd.length)
    lines.push(['notText', { odd: odd.length, all: ranges.length }]);
  if (short.length)
    lines.push(['tooShort', { size: size(before.length), reach: size(reach) }]);
  return { lines, marked: new Set([...odd, ...short]) };
}

// A cell of the table that carries its column's heading, shown where the
// rows are stacked.
const cell = (heading, ...children) => element('td', {}, say(element('span', { className: 'label' }), heading), ...children);

// One row of the table: where a range starts, its bytes before (with a mark
// where they failed a check) and after the run.
function row(range, before, after, marked) {
  const [offset, length] = range;
  const kept = before.subarray(offset, offset + length);
  const past = length - kept.length;
  const was = cell('before', shown(kept));
  if (past > 0)
    was.append(' ', say(element('span', { className: 'past' }), past === length ? 'allPastEnd' : 'pastEnd', { size: size(past) }));
  else if (marked.has(range))
    was.append(' ', say(element('span', { className: 'doubt' }), 'notTextMark'));
  return element('tr', {}, element('th', { scope: 'row', textContent: '0x' + offset.toString(16).toUpperCase() }),
                 was, cell('after', shown(after.subarray(offset, offset + length))));
}

// The verdict on a run that ended with status 0, shown with what the page
// offers: the patched copy to save, or, for a file in a folder, to patch it
// there, or to put back its original (folder.original) where it is patched.
// A doubtful file is offered only once the player says it is the right one;
// one with nothing to change is not urged at all. Returns the offer: the
// bytes to save, or what the write button would write.
export function showResult(file, folder, before, { after, ranges }, sums) {
  const doubt = doubts(before, ranges);
  const unchanged = same(after, before);
  const back = folder?.original;
  const where = folder ? ['inFolder', { name: file.name, folder: folder.dir.name }] : file.name;
  const copy = folder ? null : ['copyNote', { name: NAME }];
  const verdict = unchanged && back ? {
    kind: 'ok', urged: false,
    lines: [['alreadyPatched', { where }], ['canRestore', { backup: back.name, name: file.name,
                                                            button: ['restoreButton'] }]],
    note: ['restoreNote', { backup: back.name, name: file.name }],
  } : unchanged ? {
    kind: 'ok', urged: false, save: 'saveAnyway',
    lines: [['alreadyPatched', { where }], ['nothingToDo']],
    note: folder ? ['nothingWritten'] : ['copySame'],
  } : doubt.lines.length ? {
    kind: 'warn', urged: false, save: 'savePatchedAnyway',
    lines: [['checkFile'], ...doubt.lines, ['goOnIfSure']],
    note: folder ? ['backupFirst'] : copy,
  } : folder ? {
    kind: 'ok', urged: true,
    lines: [['canPatch', { where, button: ['writeButton'] }]],
    note: ['writeNote'],
  } : {
    kind: 'ok', urged: true, save: 'saveFile',
    lines: [['copyReady', { name: NAME }]],
    note: copy,
  };
  if (file.name.toUpperCase() !== NAME)
    verdict.lines.push(['calledOther', { name: file.name, want: NAME }]);
  else if (folder && file.name !== NAME)
    verdict.lines.push(['calledInFolder', { name: file.name }]);
  showStatus(verdict.kind, verdict.lines);

  // For the way back, the table shows the original it brings back, and the
  // checksums the original first, as everywhere.
  say($('changed'), back ? 'changedBack' : 'changed');
  say($('caption'), back ? 'captionBack' : 'caption');
  $('changes').replaceChildren(...ranges.map(range => row(range, before, back ? back.bytes : after, doubt.marked)));
  if (back) {
    showSums(sums, ['backupOriginal', { name: back.name }], ['namePatched', { name: file.name }]);
    say($('checksum-note'), 'checksumNoteBack', { backup: back.name, name: file.name });
  } else {
    showSums(sums, ['yourFile'], ['patchedFile']);
    if (unchanged) // already patched: both are the same file, and neither is the original
      plain($('checksum-note'), '');
    else
      say($('checksum-note'), 'checksumNote');
  }
  $('sure').checked = false;
  $('buttons').hidden = false;
  $('sure-line').hidden = unchanged || !doubt.lines.length;
  $('write').hidden = !folder || unchanged && !back;
  $('save').hidden = !!folder;
  if (folder)
    say($('write'), back ? 'restoreButton' : 'writeButton');
  else
    say($('save'), verdict.save, { name: file.name });
  for (const button of [$('save'), $('write')])
    button.className = verdict.urged ? 'save' : 'save quiet';
  say($('save-note'), ...verdict.note);
  $('result').hidden = false;
  if (!folder)
    return { save: after };
  return { write: back ? { ...folder, was: before, want: back.bytes, backup: back.name, restore: true }
                       : { ...folder, was: before, want: after } };
}

// The checksums, each under its name, [message, values].
export function showSums(sums, before, after) {
  say($('name-before'), ...before);
  say($('name-after'), ...after);
  for (const [id, sum] of [['sum-before', sums[0]], ['sum-after', sums[1]]])
    sum ? plain($(id), sum) : say($(id), 'noSum');
}
