// A write's outcome, as the page tells it: what happened, what is on disk
// now and what to do, and the checksums and buttons that fit it.
import { $, say, plain, size, names } from './words.js';
import { sha256 } from './program.js';
import { showStatus, showSums, refused } from './verdict.js';

// Why the browser refused, and what to do about it, as messages.
const CAUSES = {
  notAllowed: () => [['notAllowed'], ['notAllowedNext']],
  diskFull: ({ want }) => [['diskFull'], ['diskFullNext', { size: size(2 * want.length) }]],
  backupBad: () => [['backupBad'], ['backupBadNext']],
  locked: ({ name }) => [['locked', { name }], ['lockedNext']],
  readOnlyFile: ({ name }) => [['readOnlyFile', { name }], ['readOnlyFileNext', { name }]],
  readOnlyFolder: ({ folder }) => [['readOnlyFolder', { folder }], ['readOnlyFolderNext']],
  unknown: ({ name, error }) => [['unknownCause'], ['unknownCauseNext', { name }], ['browserSaid', { error }]],
};

// Shows the outcome it (as replaceInPlace returns it) of a job. Returns
// what the write button offers next: the job again after a refusal, the way
// back after a patch, or nothing.
export async function showOutcome(it, job) {
  const { dir, handle, was, want, restore } = job, name = handle.name, folder = dir.name, backup = it.backup;
  const head = restore ? 'notRestored' : 'notPatched';
  const tidied = it.cleaned.length ? [['cleaned', { names: names(it.cleaned) }]] : [];
  // Where the original is safe in a backup: where, and how to get it back by hand.
  const safe = backup ? [['backupHolds', { backup }], ['byHand', { name, backup }]] : [];
  // The checksums once the file on disk is no longer the original: the backup's first.
  const backedUp = async second => showSums(await Promise.all([sha256(was), sha256(want)]),
                                            ['backupOriginal', { name: backup }], second);
  if (it.now === 'want') {
    const extra = [...tidied, ...it.unusable.length ? [['unusable', { names: names(it.unusable) }]] : []];
    $('sure-line').hidden = true;
    plain($('save-note'), '');
    if (restore) {
      $('buttons').hidden = true;
      const sum = await sha256(want);
      showSums([sum, sum], ['backupOriginal', { name }], ['backupOriginal', { name: backup }]);
      say($('checksum-note'), 'checksumNoteRestored', { name, backup });
      showStatus('ok', [['restored', { name, folder, backup }], ...extra, ['backupStays', { backup }]]);
      return null;
    }
    // The way back is offered at once: the folder now holds the patched file and its original.
    say($('write'), 'restoreButton').className = 'save quiet';
    await backedUp(['namePatched', { name }]);
    const kept = !it.made ? 'keptAlready' : it.others.includes('DUKE3D.BAK') ? 'keptOther' : 'keptNow';
    showStatus('ok', [['done', { name, folder }], ...extra, [kept, { backup }], ['undo', { button: ['restoreButton'] }]]);
    return { dir, handle, was: want, want: was, backup, restore: true };
  }
  if (it.cause === 'changed') { // the page then takes the folder as newly chosen
    showStatus('failed', [[head, { what: ['changedOnDisk', { name }] }], ['nothingWrittenAtAll'], ...tidied, ['seeAgain']]);
    return null;
  }
  if (it.cause !== 'gone' && !it.written) { // refused: the file is as it was, and the button stays
    const [what, ...next] = CAUSES[it.cause]({ name, folder, want, error: it.error });
    refused(what, [['unchangedOnDisk', { name }], ...tidied, ...it.made ? [['backupKept', { backup }]] : [], ...next], head);
    return job;
  }
  // Gone, or written over by another program: pressing again cannot help,
  // so the button goes and the status says what to do instead.
  $('buttons').hidden = true;
  plain($('save-note'), '');
  if (backup && !restore)
    await backedUp(['patchedFile']);
  if (!it.written)
    refused(['vanished', { name, folder }], backup ? safe : [['nothingWrittenAtAll'], ['chooseFolderAgain']], head);
  else if (it.now === 'was')
    refused(['notApplied', { name }], [...tidied, ...safe], head);
  else // written, then moved, deleted or changed by another program: neither patched nor not
    showStatus('failed', [[it.now === 'gone' ? 'goneAfter' : 'changedAfter', { name }], ['leftAsItIs'], ...tidied, ...safe]);
  return null;
}
