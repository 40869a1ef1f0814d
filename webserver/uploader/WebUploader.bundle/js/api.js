// The page's client of the server's HTTP interface: /list, /download, /upload, /move, /delete and
// /create. Failures become Error objects whose message is the server's text.
'use strict';

window.WebUploader = window.WebUploader || {};

(function (WU) {
  // The message of an error page ("HTTP Error 404: "x" does not exist" -> ""x" does not exist"),
  // read as text: nothing the server sends is ever inserted as markup.
  WU.errorMessageFromResponse = function (status, text) {
    let message = '';
    if (text) {
      const page = new DOMParser().parseFromString(text, 'text/html');
      const heading = page.querySelector('h1');
      message = (heading ? heading.textContent : page.body ? page.body.textContent : '').trim();
      message = message.replace(/^HTTP Error \d+:\s*/, '');
      const detail = page.querySelector('h3');
      if (detail && detail.textContent.trim()) {
        message += ' (' + detail.textContent.trim() + ')';
      }
    }
    return message || 'The server answered with status ' + status + '.';
  };

  async function check(response) {
    if (response.ok) {
      return response;
    }
    const text = await response.text().catch(() => '');
    const error = new Error(WU.errorMessageFromResponse(response.status, text));
    error.status = response.status;
    throw error;
  }

  async function send(url, options) {
    let response;
    try {
      response = await fetch(url, options);
    } catch (error) {
      throw new Error('The server cannot be reached. Check the connection and try again.');
    }
    return check(response);
  }

  function postForm(url, fields) {
    return send(url, {
      method: 'POST',
      headers: { Accept: 'application/json' },
      body: new URLSearchParams(fields),
    }).then(() => undefined);
  }

  // The items of a folder as the server orders them: [{path, name, size?, isFolder}].
  WU.list = async function (folder) {
    const response = await send('/list?path=' + encodeURIComponent(folder), {
      headers: { Accept: 'application/json' },
      cache: 'no-store',
    });
    const items = await response.json();
    return items.map((item) => ({
      path: String(item.path),
      name: String(item.name),
      size: typeof item.size === 'number' ? item.size : null,
      isFolder: String(item.path).endsWith('/'),
    }));
  };

  // The name the server gave an item it placed under `wanted` (it takes the next free name,
  // "a (1).txt", when the name is taken): the entry of the folder's listing `after` that was not in
  // `before` (a Set of names) and is `wanted` or a numbered form of it; `claimed` (a Set) holds the
  // names already attributed to other operations and is updated. `wanted` when none is found.
  WU.chosenName = function (before, after, wanted, claimed) {
    const dot = wanted.lastIndexOf('.');
    const base = dot > 0 ? wanted.slice(0, dot) : wanted;
    const extension = dot > 0 ? wanted.slice(dot) : '';
    const isNumbered = (name) => name.startsWith(base + ' (') && name.endsWith(')' + extension) &&
      /^\d+$/.test(name.slice(base.length + 2, name.length - extension.length - 1));
    const fresh = after.map((item) => item.name)
      .filter((name) => !before.has(name) && !(claimed && claimed.has(name)));
    const chosen = fresh.find((name) => name === wanted) || fresh.find(isNumbered) || wanted;
    if (claimed) {
      claimed.add(chosen);
    }
    return chosen;
  };

  WU.namesOf = (items) => new Set(items.map((item) => item.name));

  WU.downloadURL = function (path) {
    return '/download?path=' + encodeURIComponent(path);
  };

  WU.move = (oldPath, newPath) => postForm('/move', { oldPath, newPath });
  WU.remove = (path) => postForm('/delete', { path });
  WU.createFolder = (path) => postForm('/create', { path });

  // Uploads one file into a folder with one request; progress(fraction) is called as it goes.
  // Resolves when the server has stored it, rejects with the server's message otherwise.
  WU.upload = function (file, folder, progress) {
    return new Promise((resolve, reject) => {
      const form = new FormData();
      form.append('path', folder);
      form.append('files[]', file, file.name);
      const request = new XMLHttpRequest();
      request.open('POST', '/upload');
      request.setRequestHeader('Accept', 'application/json');
      request.upload.addEventListener('progress', (event) => {
        if (event.lengthComputable && event.total > 0) {
          progress(event.loaded / event.total);
        }
      });
      request.addEventListener('load', () => {
        if (request.status >= 200 && request.status < 300) {
          progress(1);
          resolve();
        } else {
          reject(new Error(WU.errorMessageFromResponse(request.status, request.responseText)));
        }
      });
      request.addEventListener('error', () => reject(new Error('The connection to the server was lost.')));
      request.addEventListener('abort', () => reject(new Error('The upload was cancelled.')));
      request.send(form);
    });
  };
})(window.WebUploader);
