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

  // ---- Rendering: rows are kept per item and reused, so that a change re-renders only what
  // changed; long lists are built in slices so that the page stays responsive ----

  const SLICE_MILLISECONDS = 12;
  const rows = new Map(); // key -> {item, node}
  let renderToken = 0;

  const keyOf = (item) => (item.isFolder ? 'd:' : 'f:') + item.name;

  function rowFor(item) {
    const key = keyOf(item);
    const known = rows.get(key);
    if (known && known.item.path === item.path && known.item.size === item.size) {
      return known.node;
    }
    const node = renderRow(item);
    if (known && known.node.parentNode) {
      known.node.replaceWith(node);
    }
    rows.set(key, { item, node });
    return node;
  }

  // Shows the items (folders first, each group in the server's order). Rows of items that are gone
  // are removed, rows of unchanged items stay as they are, new rows are inserted in place; the
  // first slice is done at once, the rest on later turns of the event loop.
  function showItems(items, fresh) {
    const list = byId('items');
    const token = ++renderToken;
    if (fresh) {
      rows.clear();
      list.replaceChildren();
    }
    state.items = items;
    const order = items.filter((item) => item.isFolder).concat(items.filter((item) => !item.isFolder));
    const keys = new Set(order.map(keyOf));
    for (const [key, entry] of rows) {
      if (!keys.has(key)) {
        entry.node.remove();
        rows.delete(key);
      }
    }
    byId('empty').hidden = items.length > 0;
    list.setAttribute('aria-busy', 'true');
    let index = 0;
    let cursor = list.firstChild;
    const slice = () => {
      if (token !== renderToken) {
        return;
      }
      const started = performance.now();
      while (index < order.length) {
        const node = rowFor(order[index]);
        if (cursor === node) {
          cursor = cursor.nextSibling;
        } else {
          list.insertBefore(node, cursor);
        }
        index += 1;
        if (index % 64 === 0 && performance.now() - started > SLICE_MILLISECONDS) {
          setTimeout(slice, 0);
          return;
        }
      }
      while (cursor) {
        const next = cursor.nextSibling;
        cursor.remove();
        cursor = next;
      }
      list.setAttribute('aria-busy', 'false');
    };
    slice();
  }

  let shownFolder = null;

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
      clearError();
      showItems(items, shownFolder !== folder);
      shownFolder = folder;
    } catch (error) {
      if (generation !== state.generation) {
        return;
      }
      showItems([], true);
      shownFolder = null;
      byId('empty').hidden = true;
      showError(error.message);
    }
  }

  const reload = () => load(state.folder);

  // Shows a listing of `folder` read after an operation, when that folder is still the one shown.
  function showListing(folder, items) {
    if (items && folder === state.folder && folder === shownFolder) {
      ++state.generation; // a listing still on its way is older than this one
      showItems(items, false);
    }
  }

  // Reads the folder again after an operation and shows it; resolves with the listing (null when
  // it could not be read: the error is shown).
  async function refresh(folder) {
    try {
      const items = await WU.list(folder);
      showListing(folder, items);
      return items;
    } catch (error) {
      if (folder === state.folder) {
        showError(error.message);
      }
      return null;
    }
  }

  // ---- Actions ----

  // The name the server chose for an item placed under `wanted` in `folder`, from the listings
  // before and after; the shown folder is updated from the second.
  async function placedName(folder, before, wanted) {
    const after = await refresh(folder);
    return after ? WU.chosenName(before, after, wanted) : wanted;
  }

  const folderName = (folder) => (folder === '/' ? 'Home' : folder);

  async function renameItem(item) {
    const folder = WU.parentFolder(item.path);
    let chosen = null;
    const done = await WU.askForName({
      title: 'Rename “' + item.name + '”',
      label: 'New name',
      initial: item.name,
      okLabel: 'Rename',
      accept: async (name) => {
        if (name === item.name) {
          return;
        }
        const before = WU.namesOf(state.items);
        await WU.move(item.path, folder + name);
        before.delete(item.name);
        chosen = await placedName(folder, before, name);
      },
    });
    if (done !== null && chosen !== null) {
      announce('Renamed “' + item.name + '” to “' + chosen + '”.');
    }
  }

  async function moveItem(item) {
    const source = WU.parentFolder(item.path);
    let chosen = item.name;
    const destination = await WU.chooseFolder({
      item,
      start: state.folder,
      accept: async (folder) => {
        const before = WU.namesOf(await WU.list(folder));
        await WU.move(item.path, folder + item.name);
        const after = await WU.list(folder).catch(() => null);
        chosen = after ? WU.chosenName(before, after, item.name) : item.name;
      },
    });
    if (destination !== null) {
      refresh(source);
      announce('Moved “' + item.name + '” to ' + folderName(destination) +
        (chosen === item.name ? '.' : ' as “' + chosen + '”.'));
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
      accept: async () => {
        await WU.remove(item.path);
        await refresh(WU.parentFolder(item.path));
      },
    });
    if (done !== null) {
      announce('Deleted “' + item.name + '”.');
    }
  }

  async function newFolder() {
    const folder = state.folder;
    let chosen = null;
    const name = await WU.askForName({
      title: 'New Folder',
      label: 'Name',
      initial: 'New Folder',
      okLabel: 'Create',
      accept: async (value) => {
        const before = folder === shownFolder ? WU.namesOf(state.items) : WU.namesOf(await WU.list(folder));
        await WU.createFolder(folder + value);
        chosen = await placedName(folder, before, value);
      },
    });
    if (name !== null && chosen !== null) {
      announce('Created the folder “' + chosen + '”.');
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

  function uploadFinished(folder, succeeded, listing) {
    if (succeeded) {
      showListing(folder, listing);
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
    byId('uploads-close').addEventListener('click', WU.closeUploads);
    window.addEventListener('hashchange', () => load(WU.folderForHash(location.hash)));
    setUpDropTarget();
    load(WU.folderForHash(location.hash));
  }

  start();
})(window.WebUploader);
