// Text helpers of the web file manager page: sizes, paths, icons.
'use strict';

window.WebUploader = window.WebUploader || {};

(function (WU) {
  const UNITS = ['KB', 'MB', 'GB', 'TB', 'PB'];

  // "1 byte", "532 bytes", "1.2 KB", "18 MB" (decimal units, as the system's file browser shows).
  WU.humanSize = function (bytes) {
    if (typeof bytes !== 'number' || !isFinite(bytes) || bytes < 0) {
      return '';
    }
    if (bytes < 1000) {
      return bytes === 1 ? '1 byte' : bytes + ' bytes';
    }
    let value = bytes;
    let unit = -1;
    do {
      value /= 1000;
      unit += 1;
    } while (value >= 999.95 && unit < UNITS.length - 1);
    const digits = value < 10 ? 1 : 0;
    return value.toFixed(digits).replace(/\.0$/, '') + ' ' + UNITS[unit];
  };

  // The components of a folder path: "/a/b/" -> ["a", "b"].
  WU.pathComponents = function (path) {
    return String(path || '').split('/').filter((part) => part !== '' && part !== '.' && part !== '..');
  };

  // A folder path with leading and trailing "/": "a/b" -> "/a/b/"; the root is "/".
  WU.folderPath = function (path) {
    const parts = WU.pathComponents(path);
    return parts.length ? '/' + parts.join('/') + '/' : '/';
  };

  // The folder that holds an item path ("/a/b.txt" or "/a/b/") -> "/a/".
  WU.parentFolder = function (path) {
    const parts = WU.pathComponents(path);
    parts.pop();
    return parts.length ? '/' + parts.join('/') + '/' : '/';
  };

  // The location hash of a folder, each name percent-escaped: "/a b/" -> "#/a%20b/".
  WU.hashForFolder = function (folder) {
    const parts = WU.pathComponents(folder).map(encodeURIComponent);
    return '#/' + (parts.length ? parts.join('/') + '/' : '');
  };

  // The folder named by a location hash; the root for anything unreadable.
  WU.folderForHash = function (hash) {
    const text = String(hash || '').replace(/^#/, '');
    const parts = text.split('/').filter((part) => part !== '');
    try {
      return WU.folderPath(parts.map(decodeURIComponent).join('/'));
    } catch (error) {
      return '/';
    }
  };

  const KINDS = [
    ['image', ['jpg', 'jpeg', 'png', 'gif', 'heic', 'heif', 'webp', 'bmp', 'tif', 'tiff', 'svg', 'raw', 'cr2', 'nef']],
    ['audio', ['mp3', 'm4a', 'aac', 'wav', 'flac', 'ogg', 'oga', 'opus', 'aiff', 'aif', 'wma', 'alac']],
    ['video', ['mp4', 'm4v', 'mov', 'mkv', 'avi', 'webm', 'wmv', 'mpg', 'mpeg', 'ts', '3gp']],
    ['archive', ['zip', 'tar', 'gz', 'tgz', 'bz2', 'xz', '7z', 'rar', 'dmg', 'iso', 'zst']],
    ['text', ['txt', 'md', 'rtf', 'pdf', 'doc', 'docx', 'odt', 'pages', 'csv', 'json', 'xml', 'html', 'htm',
      'log', 'xls', 'xlsx', 'ods', 'numbers', 'ppt', 'pptx', 'key', 'epub']],
  ];

  // The icon file of an item, by kind.
  WU.iconForItem = function (item) {
    if (item.isFolder) {
      return 'icons/folder.svg';
    }
    const dot = item.name.lastIndexOf('.');
    const extension = dot > 0 ? item.name.slice(dot + 1).toLowerCase() : '';
    for (const [kind, extensions] of KINDS) {
      if (extensions.includes(extension)) {
        return 'icons/file-' + kind + '.svg';
      }
    }
    return 'icons/file.svg';
  };

  // Makes an element with attributes and children (texts become text nodes, never markup).
  WU.element = function (tag, attributes, children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes || {})) {
      if (value === false || value === null || value === undefined) {
        continue;
      }
      if (name === 'className') {
        node.className = value;
      } else if (name === 'text') {
        node.textContent = value;
      } else if (name.startsWith('on') && typeof value === 'function') {
        node.addEventListener(name.slice(2), value);
      } else {
        node.setAttribute(name, value === true ? '' : String(value));
      }
    }
    for (const child of children || []) {
      if (child !== null && child !== undefined) {
        node.append(child instanceof Node ? child : document.createTextNode(String(child)));
      }
    }
    return node;
  };

  // An <img> for a decorative icon.
  WU.icon = function (file, size) {
    return WU.element('img', { src: file, alt: '', width: size || 18, height: size || 18 });
  };
})(window.WebUploader);
