// Uploads: one request per file, at most two at a time, each with its own progress bar.
'use strict';

window.WebUploader = window.WebUploader || {};

(function (WU) {
  const PARALLEL = 2;
  const queue = [];
  let running = 0;

  const byId = (id) => document.getElementById(id);

  function addRow(file, folder) {
    const progress = WU.element('progress', { max: 100, value: 0, 'aria-label': 'Progress of ' + file.name });
    const state = WU.element('span', { className: 'upload-state', text: 'Waiting' });
    const row = WU.element('li', { className: 'upload waiting' }, [
      WU.icon(WU.iconForItem({ name: file.name, isFolder: false }), 20),
      WU.element('span', { className: 'upload-name', title: folder + file.name, text: file.name }),
      WU.element('span', { className: 'upload-size', text: WU.humanSize(file.size) }),
      progress,
      state,
    ]);
    byId('upload-list').append(row);
    byId('uploads').hidden = false;
    return { row, progress, state };
  }

  function setState(view, kind, text) {
    view.row.className = 'upload ' + kind;
    view.state.textContent = text;
  }

  function start(job) {
    running += 1;
    setState(job.view, 'running', '0%');
    WU.upload(job.file, job.folder, (fraction) => {
      const percent = Math.round(fraction * 100);
      job.view.progress.value = percent;
      job.view.state.textContent = percent + '%';
    }).then(() => {
      job.view.progress.value = 100;
      setState(job.view, 'done', 'Done');
      job.done(true);
    }, (error) => {
      setState(job.view, 'failed', error.message);
      job.done(false);
    }).finally(() => {
      running -= 1;
      pump();
    });
  }

  function pump() {
    while (running < PARALLEL && queue.length) {
      start(queue.shift());
    }
  }

  // Queues the files for the folder; onFinished(folder, succeeded) is called for each file.
  WU.uploadFiles = function (files, folder, onFinished) {
    for (const file of files) {
      const view = addRow(file, folder);
      queue.push({ file, folder, view, done: (succeeded) => onFinished(folder, succeeded) });
    }
    pump();
  };

  // Removes the rows of uploads that have ended.
  WU.clearFinishedUploads = function () {
    for (const row of byId('upload-list').querySelectorAll('.upload.done, .upload.failed')) {
      row.remove();
    }
    byId('uploads').hidden = byId('upload-list').children.length === 0;
  };
})(window.WebUploader);
