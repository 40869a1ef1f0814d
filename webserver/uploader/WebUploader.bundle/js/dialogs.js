// Modal dialogs of the page: one <dialog> element, filled for each question. Escape or Cancel
// closes it without an answer; the dialog returns focus to where it was opened from.
'use strict';

window.WebUploader = window.WebUploader || {};

(function (WU) {
  const byId = (id) => document.getElementById(id);

  // Opens the dialog. options: title, okLabel, danger (a destructive OK), hideOk,
  // build(body, controls) -> {value(), focus()} to fill the body, validate(value) -> problem text,
  // accept(value) -> promise run before closing (its failure is shown in the dialog).
  // Resolves with the value, or null when cancelled.
  WU.openDialog = function (options) {
    const dialog = byId('dialog');
    const form = byId('dialog-form');
    const body = byId('dialog-body');
    const errorText = byId('dialog-error');
    const ok = byId('dialog-ok');
    const cancel = byId('dialog-cancel');
    const opener = document.activeElement;

    return new Promise((resolve) => {
      let busy = false;
      byId('dialog-title').textContent = options.title;
      body.replaceChildren();
      errorText.hidden = true;
      errorText.textContent = '';
      ok.textContent = options.okLabel || 'OK';
      ok.classList.toggle('danger', Boolean(options.danger));
      ok.classList.toggle('primary', !options.danger);
      ok.hidden = Boolean(options.hideOk);
      ok.disabled = false;

      const controls = {
        setOkEnabled: (enabled) => { ok.disabled = !enabled; },
        showError,
        finish,
      };
      const content = (options.build && options.build(body, controls)) || {};

      function showError(message) {
        errorText.textContent = message;
        errorText.hidden = !message;
      }

      function finish(result) {
        form.removeEventListener('submit', onSubmit);
        cancel.removeEventListener('click', onCancel);
        dialog.removeEventListener('cancel', onCancel);
        if (dialog.open) {
          dialog.close();
        }
        if (opener && typeof opener.focus === 'function' && document.contains(opener)) {
          opener.focus();
        }
        resolve(result);
      }

      async function onSubmit(event) {
        event.preventDefault();
        if (busy || ok.disabled || ok.hidden) {
          return;
        }
        const value = content.value ? content.value() : true;
        const problem = options.validate ? options.validate(value) : '';
        if (problem) {
          showError(problem);
          return;
        }
        if (options.accept) {
          busy = true;
          ok.disabled = true;
          try {
            await options.accept(value);
          } catch (error) {
            showError(error.message);
            busy = false;
            ok.disabled = false;
            return;
          }
        }
        finish(value);
      }

      function onCancel(event) {
        event.preventDefault();
        if (!busy) {
          finish(null);
        }
      }

      form.addEventListener('submit', onSubmit);
      cancel.addEventListener('click', onCancel);
      dialog.addEventListener('cancel', onCancel);
      dialog.showModal();
      if (content.focus) {
        content.focus();
      } else if (!ok.hidden) {
        ok.focus();
      } else {
        cancel.focus();
      }
    });
  };

  // A dialog asking for a name; resolves with it (trimmed) or null.
  WU.askForName = function ({ title, label, initial, okLabel, accept }) {
    return WU.openDialog({
      title,
      okLabel,
      build(body) {
        const input = WU.element('input', {
          id: 'dialog-input', type: 'text', value: initial || '', autocomplete: 'off', spellcheck: 'false',
          autocapitalize: 'off', required: true,
        });
        body.append(WU.element('label', { className: 'field', for: 'dialog-input', text: label }), input);
        return {
          value: () => input.value.trim(),
          focus() {
            input.focus();
            // Select the name without its extension, as file browsers do.
            const dot = input.value.lastIndexOf('.');
            input.setSelectionRange(0, dot > 0 ? dot : input.value.length);
          },
        };
      },
      validate(name) {
        if (!name) {
          return 'Please enter a name.';
        }
        if (name.includes('/')) {
          return 'A name cannot contain "/".';
        }
        if (name === '.' || name === '..') {
          return 'This name is reserved.';
        }
        if (name.startsWith('.')) {
          return 'Names beginning with "." are hidden and cannot be used here.';
        }
        return '';
      },
      accept,
    });
  };

  // A dialog for choosing a destination folder for `item`; resolves with the folder or null.
  WU.chooseFolder = function ({ item, start, accept }) {
    const source = WU.parentFolder(item.path);
    return WU.openDialog({
      title: 'Move “' + item.name + '”',
      okLabel: 'Move Here',
      build(body, controls) {
        let target = start;
        const location = WU.element('p', { className: 'picker-location' });
        const up = WU.element('button', { type: 'button', className: 'button small', text: 'Up' });
        const list = WU.element('ul', { className: 'picker-list', 'aria-label': 'Folders' });
        body.append(WU.element('div', { className: 'picker-head' }, [up, location]), list);

        // Moving into the folder it is in, or into itself, is pointless or impossible.
        const invalid = (folder) => folder === source || (item.isFolder && folder.startsWith(item.path));

        async function show(folder) {
          target = folder;
          location.replaceChildren(WU.icon('icons/folder.svg', 18), folder === '/' ? 'Home' : folder);
          up.disabled = folder === '/';
          controls.setOkEnabled(!invalid(folder));
          controls.showError('');
          list.replaceChildren(WU.element('li', { className: 'picker-note', text: 'Loading…' }));
          try {
            const folders = (await WU.list(folder)).filter((entry) => entry.isFolder);
            if (target !== folder) {
              return;
            }
            list.replaceChildren();
            for (const entry of folders) {
              const disabled = item.isFolder && entry.path === item.path;
              list.append(WU.element('li', {}, [WU.element('button', {
                type: 'button', className: 'picker-item', disabled,
                onclick: () => show(entry.path),
              }, [WU.icon('icons/folder.svg', 20), entry.name])]));
            }
            if (!folders.length) {
              list.append(WU.element('li', { className: 'picker-note', text: 'No folders here.' }));
            }
          } catch (error) {
            controls.showError(error.message);
          }
        }

        up.addEventListener('click', () => show(WU.parentFolder(target)));
        show(start);
        return { value: () => target, focus: () => up.disabled ? list.focus() : up.focus() };
      },
      accept,
    });
  };

  // A list of actions for an item (the phone layout's menu); resolves with the chosen action's
  // key or null.
  WU.chooseAction = function ({ title, actions }) {
    return WU.openDialog({
      title,
      hideOk: true,
      build(body, controls) {
        const list = WU.element('div', { className: 'sheet' });
        for (const action of actions) {
          list.append(WU.element('button', {
            type: 'button', className: 'sheet-item' + (action.danger ? ' danger' : ''),
            onclick: () => controls.finish(action.key),
          }, [WU.icon(action.icon, 20), action.label]));
        }
        body.append(list);
        return { focus: () => list.firstChild && list.firstChild.focus() };
      },
    });
  };
})(window.WebUploader);
