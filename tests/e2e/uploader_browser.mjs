// The web file manager's page in a real browser: Debian's Chromium, headless, driven by Playwright,
// against `webserve uploader` on a scratch folder. Every step is checked on the page and on disk.
//
// node uploader_browser.mjs URL FOLDER ARTIFACTS CHROMIUM [USER:PASSWORD]
//
// With credentials (a server behind Digest authentication) the page is browsed, uploaded to,
// edited and downloaded from again, every request authenticated: Chromium answers with qop=auth
// and a new nc each time, many requests at once.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const [baseURL, folder, artifacts, executablePath, credentials] = process.argv.slice(2);
if (!executablePath) {
  console.error('usage: node uploader_browser.mjs URL FOLDER ARTIFACTS CHROMIUM');
  process.exit(2);
}

const CHROMIUM_FLAGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-default-apps', '--disable-dev-shm-usage',
  '--disable-breakpad', '--disable-domain-reliability', '--no-pings', '--metrics-recording-only',
];

let passed = 0;
async function step(name, body) {
  const started = Date.now();
  await body();
  passed += 1;
  console.log(`ok ${passed} - ${name} (${Date.now() - started} ms)`);
}

const onDisk = (...parts) => path.join(folder, ...parts);
const read = (...parts) => fs.readFileSync(onDisk(...parts), 'utf8');

// Polls until the check holds (the page shows a change once the server has made it, but a
// second look costs nothing).
async function eventually(check, what, seconds = 10) {
  const deadline = Date.now() + seconds * 1000;
  for (;;) {
    if (check()) {
      return;
    }
    if (Date.now() > deadline) {
      assert.fail(`timed out waiting for ${what}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function prepareFolder() {
  fs.mkdirSync(onDisk('Photos'));
  fs.mkdirSync(onDisk('Music'));
  fs.writeFileSync(onDisk('Photos', 'beach.jpg'), Buffer.alloc(245_000, 7));
  fs.writeFileSync(onDisk('Music', 'song.mp3'), Buffer.alloc(3_400_000, 3));
  fs.writeFileSync(onDisk('notes.txt'), 'Shopping list\n');
  fs.writeFileSync(onDisk('file 2.txt'), 'two\n');
  fs.writeFileSync(onDisk('file 10.txt'), 'ten\n');
  fs.writeFileSync(onDisk('Report.pdf'), Buffer.alloc(1_250_000, 1));
  fs.writeFileSync(onDisk('.secret'), 'hidden\n');
  fs.writeFileSync(onDisk('<img src=x onerror=window.__injected=1>.txt'), 'markup in a name\n');
}

// The names of the rows, in page order.
const rowNames = (page) => page.$$eval('#items > li', (rows) => rows.map((row) => row.dataset.name));
const row = (page, name) => page.locator(`#items > li[data-name="${name.replace(/"/g, '\\"')}"]`);

async function waitForRows(page, expected) {
  await page.waitForFunction(
    (names) => JSON.stringify(Array.from(document.querySelectorAll('#items > li'), (r) => r.dataset.name)) ===
      JSON.stringify(names),
    expected);
}

async function run() {
  prepareFolder();
  fs.mkdirSync(artifacts, { recursive: true });
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'lanyard-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath,
    headless: true,
    args: CHROMIUM_FLAGS,
    viewport: { width: 1280, height: 860 },
    acceptDownloads: true,
    ...(credentials
      ? { httpCredentials: { username: credentials.split(':')[0], password: credentials.split(':')[1] } }
      : {}),
  });
  try {
    const page = context.pages()[0] || (await context.newPage());
    page.setDefaultTimeout(15_000);
    const problems = [];
    page.on('pageerror', (error) => problems.push('page error: ' + error.message));
    page.on('console', (message) => {
      if (message.type() === 'error' && !/Failed to load resource/.test(message.text())) {
        problems.push('console: ' + message.text());
      }
    });
    await browse(page);
    await uploads(page);
    await edits(page);
    await downloads(page);
    if (!credentials) {
      await keyboardAndErrors(page);
      await bigFolder(page);
      await screenshots(page);
    }
    assert.deepEqual(problems, [], 'the page logged no errors');
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

async function browse(page) {
  await step('the start page lists the folder, folders first, in the server order', async () => {
    await page.goto(baseURL + '/');
    await waitForRows(page, ['Music', 'Photos', '<img src=x onerror=window.__injected=1>.txt', 'file 2.txt',
      'file 10.txt', 'notes.txt', 'Report.pdf']);
    assert.equal(await page.title(), 'webserve');
    assert.equal(await row(page, 'Report.pdf').locator('.size').textContent(), '1.3 MB');
    assert.equal(await row(page, 'notes.txt').locator('.size').textContent(), '14 bytes');
  });

  await step('names are shown as text, never as markup', async () => {
    const name = '<img src=x onerror=window.__injected=1>.txt';
    assert.equal(await row(page, name).locator('.name-text').textContent(), name);
    assert.equal(await page.evaluate(() => window.__injected), undefined);
  });

  await step('a folder opens with a click and the breadcrumb leads back', async () => {
    await row(page, 'Photos').locator('a.item-name').click();
    await waitForRows(page, ['beach.jpg']);
    assert.equal(new URL(page.url()).hash, '#/Photos/');
    assert.deepEqual(await page.$$eval('#breadcrumb a', (links) => links.map((a) => a.textContent)), ['Home', 'Photos']);
    assert.equal(await row(page, 'beach.jpg').locator('.size').textContent(), '245 KB');
    await page.click('#breadcrumb a >> text=Home');
    await waitForRows(page, ['Music', 'Photos', '<img src=x onerror=window.__injected=1>.txt', 'file 2.txt',
      'file 10.txt', 'notes.txt', 'Report.pdf']);
  });
}

async function uploads(page) {
  await step('three files uploaded through the picker, each with its own progress bar', async () => {
    const big = Buffer.alloc(6_000_000, 0x61);
    const chooser = page.waitForEvent('filechooser');
    await page.click('#upload-button');
    await (await chooser).setFiles([
      { name: 'holiday.mov', mimeType: 'video/quicktime', buffer: big },
      { name: 'list.txt', mimeType: 'text/plain', buffer: Buffer.from('milk\neggs\n') },
      { name: 'notes.txt', mimeType: 'text/plain', buffer: Buffer.from('second notes\n') },
    ]);
    await page.waitForFunction(() => document.querySelectorAll('#upload-list .upload.done').length === 3);
    const bars = await page.$$eval('#upload-list .upload', (rows) => rows.map((r) => [
      r.querySelector('.upload-name').textContent, r.querySelector('progress').value, r.querySelector('.upload-state').textContent]));
    assert.deepEqual(bars, [['holiday.mov', 100, 'Done'], ['list.txt', 100, 'Done'],
      ['notes.txt', 100, 'Saved as “notes (1).txt”']], 'each row names the name the server chose');
    await eventually(() => fs.existsSync(onDisk('notes (1).txt')), 'notes (1).txt on disk');
    assert.equal(fs.statSync(onDisk('holiday.mov')).size, big.length);
    assert.equal(read('list.txt'), 'milk\neggs\n');
    assert.equal(read('notes.txt'), 'Shopping list\n', 'an upload never replaces a file');
    assert.equal(read('notes (1).txt'), 'second notes\n');
    await row(page, 'notes (1).txt').waitFor();
  });

  await step('a file name with quotes is stored exactly so', async () => {
    // Chromium writes a quote in a form's file name as %22 (the HTML standard's form encoding).
    const name = 'Rapport "final" 2024.txt';
    const chooser = page.waitForEvent('filechooser');
    await page.click('#upload-button');
    await (await chooser).setFiles([{ name, mimeType: 'text/plain', buffer: Buffer.from('final\n') }]);
    await page.waitForFunction((uploaded) => Array.from(document.querySelectorAll('#upload-list .upload.done .upload-name'))
      .some((shown) => shown.textContent === uploaded), name);
    const state = await page.$$eval('#upload-list .upload.done', (rows, uploaded) => rows
      .filter((r) => r.querySelector('.upload-name').textContent === uploaded)
      .map((r) => r.querySelector('.upload-state').textContent), name);
    assert.deepEqual(state, ['Done'], 'stored under the name chosen');
    await row(page, name).waitFor();
    assert.equal(read(name), 'final\n');
    assert.ok(!fs.existsSync(onDisk('Rapport %22final%22 2024.txt')));
  });

  await step('a file dropped on the page is uploaded into the open folder', async () => {
    await row(page, 'Music').locator('a.item-name').click();
    await waitForRows(page, ['song.mp3']);
    const transfer = await page.evaluateHandle(() => {
      const data = new DataTransfer();
      data.items.add(new File(['la la la\n'], 'lyrics.txt', { type: 'text/plain' }));
      return data;
    });
    await page.dispatchEvent('body', 'dragenter', { dataTransfer: transfer });
    await page.waitForSelector('#drop-overlay:not([hidden])');
    assert.equal(await page.textContent('#drop-folder'), 'Music');
    await page.dispatchEvent('body', 'dragover', { dataTransfer: transfer });
    await page.dispatchEvent('body', 'drop', { dataTransfer: transfer });
    await page.waitForSelector('#drop-overlay', { state: 'hidden' });
    await page.waitForFunction(() => Array.from(document.querySelectorAll('#upload-list .upload.done .upload-name'))
      .some((name) => name.textContent === 'lyrics.txt'));
    await waitForRows(page, ['lyrics.txt', 'song.mp3']);
    assert.equal(read('Music', 'lyrics.txt'), 'la la la\n');
    await page.click('#uploads-close');
    await page.waitForSelector('#uploads', { state: 'hidden' });
    await page.click('#breadcrumb a >> text=Home');
    await row(page, 'holiday.mov').waitFor();
  });
}

async function edits(page) {
  await step('a new folder is created from the dialog', async () => {
    await page.click('#new-folder-button');
    await page.fill('#dialog-input', 'Projects');
    await page.click('#dialog-ok');
    await row(page, 'Projects').waitFor();
    assert.ok(fs.statSync(onDisk('Projects')).isDirectory());
  });

  await step('a file is renamed', async () => {
    await page.click('button[aria-label="Rename list.txt"]');
    assert.equal(await page.inputValue('#dialog-input'), 'list.txt');
    await page.fill('#dialog-input', 'groceries.txt');
    await page.click('#dialog-ok');
    await row(page, 'groceries.txt').waitFor();
    assert.equal(await row(page, 'list.txt').count(), 0);
    assert.ok(!fs.existsSync(onDisk('list.txt')));
    assert.equal(read('groceries.txt'), 'milk\neggs\n');
  });

  await step('a file is moved into a folder chosen in the dialog', async () => {
    await page.click('button[aria-label="Move groceries.txt"]');
    await page.click('#dialog .picker-item >> text=Projects');
    await page.waitForSelector('#dialog .picker-location >> text=/Projects/');
    await page.screenshot({ path: path.join(artifacts, 'uploader-desktop-move.png') });
    await page.click('#dialog-ok');
    await page.waitForSelector('#dialog', { state: 'hidden' });
    await eventually(() => fs.existsSync(onDisk('Projects', 'groceries.txt')), 'the moved file');
    assert.ok(!fs.existsSync(onDisk('groceries.txt')));
    // The page lists the folder again once the move is answered; on a slow machine that can come
    // after the file has moved on disk.
    await row(page, 'groceries.txt').waitFor({ state: 'detached' });
  });

  await step('a delete asks first: cancelled it keeps the item, confirmed it removes it', async () => {
    await page.click('button[aria-label="Delete file 2.txt"]');
    assert.match(await page.textContent('#dialog-title'), /Delete “file 2.txt”/);
    await page.click('#dialog-cancel');
    await page.waitForSelector('#dialog', { state: 'hidden' });
    assert.ok(fs.existsSync(onDisk('file 2.txt')));
    await page.click('button[aria-label="Delete file 2.txt"]');
    await page.click('#dialog-ok');
    await page.waitForSelector('#dialog', { state: 'hidden' });
    await eventually(() => !fs.existsSync(onDisk('file 2.txt')), 'file 2.txt to go');
    assert.equal(await row(page, 'file 2.txt').count(), 0);
  });
}

async function downloads(page) {
  await step('a click on a file downloads it', async () => {
    const download = page.waitForEvent('download');
    await row(page, 'file 10.txt').locator('a.item-name').click();
    const file = await download;
    assert.equal(file.suggestedFilename(), 'file 10.txt');
    const saved = path.join(os.tmpdir(), `lanyard-download-${process.pid}.txt`);
    await file.saveAs(saved);
    assert.equal(fs.readFileSync(saved, 'utf8'), 'ten\n');
    fs.rmSync(saved);
  });
}

async function keyboardAndErrors(page) {
  await step('the keyboard alone creates a folder; Escape cancels a dialog', async () => {
    await page.focus('#new-folder-button');
    await page.keyboard.press('Enter');
    await page.waitForSelector('#dialog-input:focus');
    await page.keyboard.press('Escape');
    await page.waitForSelector('#dialog', { state: 'hidden' });
    await page.keyboard.press('Enter'); // focus went back to the button
    await page.waitForSelector('#dialog-input:focus');
    await page.keyboard.press('Control+A');
    await page.keyboard.type('Archive');
    await page.keyboard.press('Enter');
    await row(page, 'Archive').waitFor();
    assert.ok(fs.statSync(onDisk('Archive')).isDirectory());
  });

  await step('a server refusal is shown as text in the dialog', async () => {
    await page.click('button[aria-label="Rename file 10.txt"]');
    await page.fill('#dialog-input', 'x.txt/');
    await page.click('#dialog-ok');
    assert.equal(await page.textContent('#dialog-error'), 'A name cannot contain "/".');
    await page.click('#dialog-cancel');
    await page.goto(baseURL + '/#/No%20such%20folder/');
    await page.waitForSelector('#error:not([hidden])');
    assert.equal(await page.textContent('#error-text'), '"/No such folder/" does not exist');
    await page.goto(baseURL + '/#/');
    await page.waitForSelector('#error', { state: 'hidden' });
  });

  await step('the hidden file never shows', async () => {
    assert.equal(await row(page, '.secret').count(), 0);
  });
}

// A folder of 10,000 files: the list is built in slices, and an operation changes the rows it
// concerns in place (the other rows stay the very same elements, the page is not reloaded); the
// messages name what the server chose when a name was taken.
async function bigFolder(page) {
  const count = 10_000;
  const name = (n) => `file-${String(n).padStart(5, '0')}.txt`;
  fs.mkdirSync(onDisk('Big', 'Sub'), { recursive: true });
  for (let n = 1; n <= count; n += 1) {
    fs.writeFileSync(onDisk('Big', name(n)), '');
  }
  fs.writeFileSync(onDisk('Big', 'Sub', name(5)), 'already there\n');
  const rowCount = () => page.$$eval('#items > li', (items) => items.length);
  // A mark on a row the operations never touch, and on the page itself.
  const mark = () => page.evaluate((marked) => {
    window.__samePage = true;
    document.querySelector(`#items > li[data-name="${marked}"]`).__kept = true;
  }, name(9000));
  const unchanged = () => page.evaluate((marked) => window.__samePage === true &&
    document.querySelector(`#items > li[data-name="${marked}"]`).__kept === true, name(9000));
  const timed = async (what, body) => {
    const started = Date.now();
    await body();
    console.log(`#   ${what}: ${Date.now() - started} ms`);
  };

  await step('a folder of 10,000 files is listed in full', async () => {
    await page.goto(baseURL + '/#/Big/');
    await row(page, 'Sub').waitFor();
    await page.waitForFunction((n) => document.querySelectorAll('#items > li').length === n &&
      document.querySelector('#items').getAttribute('aria-busy') === 'false', count + 1, { timeout: 60_000 });
    assert.equal((await rowNames(page))[count], name(count));
    await mark();
  });

  await step('a rename onto a taken name is shown in place with the name the server chose', async () => {
    await page.click(`button[aria-label="Rename ${name(1)}"]`);
    await page.fill('#dialog-input', name(2));
    await timed('rename reflected', async () => {
      await page.click('#dialog-ok');
      await row(page, 'file-00002 (1).txt').waitFor();
    });
    assert.equal(await row(page, name(1)).count(), 0);
    assert.match(await page.textContent('#status'), /to “file-00002 \(1\)\.txt”/);
    assert.ok(fs.existsSync(onDisk('Big', 'file-00002 (1).txt')));
    assert.ok(await unchanged(), 'the other rows stay, the page is not reloaded');
    assert.equal(await rowCount(), count + 1);
  });

  await step('a delete is shown in place', async () => {
    await page.click(`button[aria-label="Delete ${name(3)}"]`);
    await timed('delete reflected', async () => {
      await page.click('#dialog-ok');
      await page.waitForFunction((gone) => !document.querySelector(`#items > li[data-name="${gone}"]`), name(3));
    });
    assert.ok(!fs.existsSync(onDisk('Big', name(3))));
    assert.ok(await unchanged(), 'the other rows stay, the page is not reloaded');
    assert.equal(await rowCount(), count);
  });

  await step('a move and an upload onto taken names tell the names the server chose', async () => {
    await page.click(`button[aria-label="Move ${name(5)}"]`);
    await page.click('#dialog .picker-item >> text=Sub');
    await page.waitForSelector('#dialog .picker-location >> text=/Big/Sub/');
    await page.click('#dialog-ok');
    await page.waitForFunction((gone) => !document.querySelector(`#items > li[data-name="${gone}"]`), name(5));
    await page.waitForFunction(() => /as “file-00005 \(1\)\.txt”/.test(document.getElementById('status').textContent));
    assert.equal(read('Big', 'Sub', name(5)), 'already there\n');
    assert.ok(fs.existsSync(onDisk('Big', 'Sub', 'file-00005 (1).txt')));

    const chooser = page.waitForEvent('filechooser');
    await page.click('#upload-button');
    await (await chooser).setFiles([{ name: name(4), mimeType: 'text/plain', buffer: Buffer.from('new four\n') }]);
    await page.waitForSelector('#upload-list .upload.done');
    assert.equal(await page.textContent('#upload-list .upload.done .upload-state'), 'Saved as “file-00004 (1).txt”');
    await row(page, 'file-00004 (1).txt').waitFor();
    assert.equal(read('Big', 'file-00004 (1).txt'), 'new four\n');
    assert.ok(await unchanged(), 'the other rows stay, the page is not reloaded');
    await page.click('#uploads-close');
    await page.waitForSelector('#uploads', { state: 'hidden' });
  });
}

async function screenshots(page) {
  fs.mkdirSync(artifacts, { recursive: true });
  await step('desktop screenshot', async () => {
    await page.setViewportSize({ width: 1280, height: 860 });
    await page.goto(baseURL + '/#/');
    await row(page, 'Report.pdf').waitFor();
    const chooser = page.waitForEvent('filechooser');
    await page.click('#upload-button');
    await (await chooser).setFiles([{ name: 'poster.png', mimeType: 'image/png', buffer: Buffer.alloc(820_000, 5) }]);
    await page.waitForSelector('#upload-list .upload.done');
    await row(page, 'poster.png').waitFor();
    await page.mouse.move(0, 0);
    await page.waitForSelector('#status.visible', { state: 'detached' });
    await page.screenshot({ path: path.join(artifacts, 'uploader-desktop.png'), fullPage: true });
  });

  await step('phone screenshot: the row actions move into a menu', async () => {
    await page.setViewportSize({ width: 390, height: 844 });
    await page.goto(baseURL + '/#/');
    await row(page, 'Report.pdf').waitFor();
    assert.equal(await row(page, 'Report.pdf').locator('.row-actions').isVisible(), false);
    await page.screenshot({ path: path.join(artifacts, 'uploader-phone.png'), fullPage: true });
    await page.click('button[aria-label="Actions for Report.pdf"]');
    await page.waitForSelector('#dialog .sheet-item >> text=Rename');
    assert.equal(await page.isVisible('#dialog-ok'), false, 'a menu has no OK button');
    await page.screenshot({ path: path.join(artifacts, 'uploader-phone-actions.png') });
    await page.click('#dialog .sheet-item >> text=Rename');
    await page.fill('#dialog-input', 'Annual report.pdf');
    await page.click('#dialog-ok');
    await row(page, 'Annual report.pdf').waitFor();
    assert.ok(fs.existsSync(onDisk('Annual report.pdf')));
  });
}

run().then(() => {
  console.log(`${passed} passed, 0 failed`);
}, (error) => {
  console.error(error && error.stack ? error.stack : error);
  console.log(`${passed} passed, 1 failed`);
  process.exit(1);
});
