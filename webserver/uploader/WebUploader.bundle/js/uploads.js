// Uploads: one request per file, at most two at a time, each with its own progress bar. The server
// answers "{}" and may store a file under the next free name ("a (1).txt"): each upload reads the
// folder's listing before and after, and the row names what the server chose.
'use strict';

window.WebUploader = window.WebUploader || {};

(function (WU) {
  const PARALLEL = 2;
  const queue = [];
  let running = 0;
  // Per folder: the names already attributed to uploads still under way there.
  const claims = new Map();

  const byId = (id) => document.getElementById(id);

  function addRow(file, folder) {
    const progress = WU.element('progress', { max: 100, value: 0, 'aria-label': 'Progress of ' + file.name });
    const state = WU.element('span', { className: 'upload-state', text: 'Waiting' });
    const name = WU.element('span', { className: 'upload-name', title: folder + file.name, text: file.name });
    const row = WU.element('li', { className: 'upload waiting' }, [
      WU.icon(WU.iconForItem({ name: file.name, isFolder: false }), 20),
      name,
      WU.element('span', { className: 'upload-size', text: WU.humanSize(file.size) }),
      progress,
      state,
    ]);
    byId('upload-list').append(row);
    byId('uploads').hidden = false;
    return { row, progress, state, name };
  }

  function setState(view, kind, text) {
    view.row.className = 'upload ' + kind;
    view.state.textContent = text;
  }

  function updateCloseButton() {
    byId('uploads-close').hidden = running > 0 || queue.length > 0;
  }

  const listOrNull = (folder) => WU.list(folder).catch(() => null);

  async function start(job) {
    running += 1;
    updateCloseButton();
    setState(job.view, 'running', '0%');
    const claim = claims.get(job.folder) || { names: new Set(), users: 0 };
    claims.set(job.folder, claim);
    claim.users += 1;
    try {
      const before = await listOrNull(job.folder);
      await WU.upload(job.file, job.folder, (fraction) => {
        const percent = Math.round(fraction * 100);
        job.view.progress.value = percent;
        job.view.state.textContent = percent + '%';
      });
      const after = await listOrNull(job.folder);
      const chosen = before && after ? WU.chosenName(WU.namesOf(before), after, job.file.name, claim.names)
        : job.file.name;
      job.view.progress.value = 100;
      job.view.name.title = job.folder + chosen;
      setState(job.view, 'done', chosen === job.file.name ? 'Done' : 'Saved as “' + chosen + '”');
      job.done(true, after);
    } catch (error) {
      setState(job.view, 'failed', error.message);
      job.done(false, null);
    } finally {
      if (--claim.users === 0) {
        claims.delete(job.folder);
      }
      running -= 1;
      pump();
      updateCloseButton();
    }
  }

  function pump() {
    while (running < PARALLEL && queue.length) {
      start(queue.shift());
    }
  }

  // Queues the files for the folder; onFinished(folder, succeeded, listing) is called for each
  // file, with the folder's listing read after it (or null).
  WU.uploadFiles = function (files, folder, onFinished) {
    for (const file of files) {
      const view = addRow(file, folder);
      queue.push({ file, folder, view, done: (succeeded, listing) => onFinished(folder, succeeded, listing) });
    }
    pump();
    updateCloseButton();
  };

  // Removes the rows of uploads that have ended.
  WU.clearFinishedUploads = function () {
    for (const row of byId('upload-list').querySelectorAll('.upload.done, .upload.failed')) {
      row.remove();
    }
    byId('uploads').hidden = byId('upload-list').children.length === 0;
  };

  // Closes the panel once every upload has ended.
  WU.closeUploads = function () {
    if (running === 0 && queue.length === 0) {
      byId('upload-list').replaceChildren();
      byId('uploads').hidden = true;
    }
  };
})(window.WebUploader);
