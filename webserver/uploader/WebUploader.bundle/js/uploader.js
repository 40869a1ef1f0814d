// The web file manager page: the folder list, navigation, and the actions on items.
'use strict';

(function (WU) {
  const byId = (id) => document.getElementById(id);
  const state = { folder: '/', items: [], generation: 0 };

  // ---- Messages ----

  function showError(message) {
    byId('error-text').textContent = message;
    byId('error').hidden = false;
  }

  function clearError() {
    byId('error').hidden = true;
    byId('error-text').textContent = '';
  }

  let statusTimer = 0;
  function announce(message) {
    const status = byId('status');
    status.textContent = message;
    status.classList.add('visible');
    clearTimeout(statusTimer);
    statusTimer = setTimeout(() => status.classList.remove('visible'), 3500);
  }

  // ---- Listing ----

  function renderBreadcrumb() {
    const list = byId('breadcrumb');
    list.replaceChildren();
    const parts = WU.pathComponents(state.folder);
    const crumbs = [{ name: 'Home', folder: '/' }];
    parts.forEach((name, index) => crumbs.push({ name, folder: WU.folderPath(parts.slice(0, index + 1).join('/')) }));
    crumbs.forEach((crumb, index) => {
      const last = index === crumbs.length - 1;
      const content = index === 0 ? [WU.icon('icons/home.svg', 16), crumb.name] : [crumb.name];
      const link = WU.element('a', { href: WU.hashForFolder(crumb.folder), 'aria-current': last ? 'page' : false }, content);
      list.append(WU.element('li', {}, [link]));
    });
  }

  function actionButton(icon, label, item, handler, extraClass) {
    return WU.element('button', {
      type: 'button', className: 'icon-button' + (extraClass ? ' ' + extraClass : ''),
      'aria-label': label + ' ' + item.name, title: label, onclick: () => handler(item),
    }, [WU.icon(icon, 18)]);
  }

  function actionsFor(item) {
    const actions = [];
    if (!item.isFolder) {
      actions.push({ key: 'download', label: 'Download', icon: 'icons/download.svg' });
    }
    actions.push({ key: 'rename', label: 'Rename', icon: 'icons/rename.svg' });
    actions.push({ key: 'move', label: 'Move', icon: 'icons/move.svg' });
    actions.push({ key: 'delete', label: 'Delete', icon: 'icons/delete.svg', danger: true });
    return actions;
  }

  function renderRow(item) {
    const href = item.isFolder ? WU.hashForFolder(item.path) : WU.downloadURL(item.path);
    const link = WU.element('a', { className: 'item-name', href, download: item.isFolder ? false : item.name }, [
      WU.element('span', { className: 'name-text', text: item.name }),
      WU.element('span', { className: 'item-detail', text: item.isFolder ? 'Folder' : WU.humanSize(item.size) }),
    ]);
    const inline = WU.element('div', { className: 'row-actions' });
    for (const action of actionsFor(item)) {
      if (action.key === 'download') {
        inline.append(WU.element('a', {
          className: 'icon-button', href, download: item.name, 'aria-label': 'Download ' + item.name, title: 'Download',
        }, [WU.icon(action.icon, 18)]));
      } else {
        inline.append(actionButton(action.icon, action.label, item, HANDLERS[action.key], action.danger ? 'danger' : ''));
      }
    }
    const more = actionButton('icons/more.svg', 'Actions for', item, openActionSheet, 'more');
    return WU.element('li', { className: 'item' + (item.isFolder ? ' folder' : ' file'), 'data-name': item.name }, [
      WU.element('img', { className: 'item-icon', src: WU.iconForItem(item), alt: '', width: 28, height: 28 }),
      link,
      WU.element('span', { className: 'size', text: item.isFolder ? '—' : WU.humanSize(item.size) }),
      inline,
      more,
    ]);
  }

  function renderItems() {
    const list = byId('items');
    // Folders first, each group in the server's order.
    const folders = state.items.filter((item) => item.isFolder);
    const files = state.items.filter((item) => !item.isFolder);
    list.replaceChildren(...folders.concat(files).map(renderRow));
    byId('empty').hidden = state.items.length > 0;
    list.setAttribute('aria-busy', 'false');
  }

  async function load(folder) {
    const generation = ++state.generation;
    state.folder = folder;
    renderBreadcrumb();
    byId('drop-folder').textContent = folder === '/' ? 'Home' : WU.pathComponents(folder).pop();
    byId('items').setAttribute('aria-busy', 'true');
    try {
      const items = await WU.list(folder);
      if (generation !== state.generation) {
        return;
      }
      state.items = items;
      clearError();
      renderItems();
    } catch (error) {
      if (generation !== state.generation) {
        return;
      }
      state.items = [];
      renderItems();
      byId('empty').hidden = true;
      showError(error.message);
    }
  }

  const reload = () => load(state.folder);

  // ---- Actions ----

  async function renameItem(item) {
    const done = await WU.askForName({
      title: 'Rename “' + item.name + '”',
      label: 'New name',
      initial: item.name,
      okLabel: 'Rename',
      accept: (name) => name === item.name ? Promise.resolve() : WU.move(item.path, WU.parentFolder(item.path) + name),
    });
    if (done !== null && done !== item.name) {
      announce('Renamed “' + item.name + '” to “' + done + '”.');
      reload();
    }
  }

  async function moveItem(item) {
    const destination = await WU.chooseFolder({
      item,
      start: state.folder,
      accept: (folder) => WU.move(item.path, folder + item.name),
    });
    if (destination !== null) {
      announce('Moved “' + item.name + '” to ' + (destination === '/' ? 'Home' : destination) + '.');
      reload();
    }
  }

  async function deleteItem(item) {
    const done = await WU.openDialog({
      title: 'Delete “' + item.name + '”?',
      okLabel: 'Delete',
      danger: true,
      build(body) {
        body.append(WU.element('p', {
          text: item.isFolder ? 'The folder and everything in it will be deleted. This cannot be undone.'
            : 'The file will be deleted. This cannot be undone.',
        }));
        return {};
      },
      accept: () => WU.remove(item.path),
    });
    if (done !== null) {
      announce('Deleted “' + item.name + '”.');
      reload();
    }
  }

  async function newFolder() {
    const folder = state.folder;
    const name = await WU.askForName({
      title: 'New Folder',
      label: 'Name',
      initial: 'New Folder',
      okLabel: 'Create',
      accept: (value) => WU.createFolder(folder + value),
    });
    if (name !== null) {
      announce('Created the folder “' + name + '”.');
      reload();
    }
  }

  function download(item) {
    const link = WU.element('a', { href: WU.downloadURL(item.path), download: item.name });
    document.body.append(link);
    link.click();
    link.remove();
  }

  const HANDLERS = { rename: renameItem, move: moveItem, delete: deleteItem, download };

  async function openActionSheet(item) {
    const key = await WU.chooseAction({ title: item.name, actions: actionsFor(item) });
    if (key && HANDLERS[key]) {
      HANDLERS[key](item);
    }
  }

  // ---- Uploads ----

  let refreshTimer = 0;
  function uploadFinished(folder, succeeded) {
    if (succeeded && folder === state.folder) {
      clearTimeout(refreshTimer);
      refreshTimer = setTimeout(reload, 150);
    }
  }

  function upload(files) {
    if (files.length) {
      WU.uploadFiles(files, state.folder, uploadFinished);
    }
  }

  function setUpDropTarget() {
    const overlay = byId('drop-overlay');
    let depth = 0;
    const carriesFiles = (event) => event.dataTransfer && Array.from(event.dataTransfer.types || []).includes('Files');
    document.addEventListener('dragenter', (event) => {
      if (carriesFiles(event)) {
        event.preventDefault();
        depth += 1;
        overlay.hidden = false;
      }
    });
    document.addEventListener('dragover', (event) => {
      if (carriesFiles(event)) {
        event.preventDefault();
        event.dataTransfer.dropEffect = 'copy';
      }
    });
    document.addEventListener('dragleave', (event) => {
      if (carriesFiles(event) && --depth <= 0) {
        depth = 0;
        overlay.hidden = true;
      }
    });
    document.addEventListener('drop', (event) => {
      if (!carriesFiles(event)) {
        return;
      }
      event.preventDefault();
      depth = 0;
      overlay.hidden = true;
      const files = [];
      let skipped = 0;
      const entries = Array.from(event.dataTransfer.items || []);
      Array.from(event.dataTransfer.files).forEach((file, index) => {
        const entry = entries[index] && entries[index].webkitGetAsEntry ? entries[index].webkitGetAsEntry() : null;
        if (entry && entry.isDirectory) {
          skipped += 1;
        } else {
          files.push(file);
        }
      });
      if (skipped) {
        showError('Folders cannot be uploaded; drop the files inside them instead.');
      }
      upload(files);
    });
  }

  // ---- Start ----

  function start() {
    byId('upload-button').addEventListener('click', () => byId('file-input').click());
    byId('file-input').addEventListener('change', (event) => {
      upload(Array.from(event.target.files));
      event.target.value = '';
    });
    byId('new-folder-button').addEventListener('click', newFolder);
    byId('refresh-button').addEventListener('click', reload);
    byId('error-close').addEventListener('click', clearError);
    byId('uploads-clear').addEventListener('click', WU.clearFinishedUploads);
    window.addEventListener('hashchange', () => load(WU.folderForHash(location.hash)));
    setUpDropTarget();
    load(WU.folderForHash(location.hash));
  }

  start();
})(window.WebUploader);
