// Browser check of the share page's uploader (js/uploader.js), as a write
// guest uses it: a file of several chunks whose connection breaks off, a
// folder through the folder button, a file dropped onto the page, an upload
// taken up again after a reload, the multipart form of a host without tus,
// a cancel and the panel's Close. The uploaded bytes are checked on the disk.
'use strict';

const assert = require('assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { poll } = require('./host');

// Small chunks, so that small files take several PATCHes.
const CHUNK = 64 * 1024;

function bytes(size, seed) {
  const b = Buffer.alloc(size);
  for (let i = 0; i < size; i++) b[i] = (i * 7919 + seed * 131 + (i >> 9)) & 0xff;
  return b;
}

// Keeps the highest progress each file's row showed, and the last total
// line seen under way, across the reload that follows a finished queue.
function recordUploadProgress() {
  document.addEventListener('DOMContentLoaded', () => {
    const target = document.getElementById('fsUploadProgress');
    if (!target) return;
    const total = document.getElementById('divStatus');
    new MutationObserver(() => {
      for (const row of target.querySelectorAll('.progressContainer')) {
        const name = row.querySelector('.progressName').textContent;
        const bar = row.querySelector('[data-percent]');
        const percent = bar ? Number(bar.getAttribute('data-percent')) : 0;
        const key = 'progress:' + name;
        if (percent > Number(sessionStorage.getItem(key) || -1)) sessionStorage.setItem(key, String(percent));
      }
      if (/^Uploading .* left$/.test(total.textContent)) sessionStorage.setItem('total', total.textContent);
    }).observe(document.getElementById('swf_content'), {
      subtree: true, childList: true, attributes: true, characterData: true,
    });
  });
}

// Records the tus requests the page makes from now on; stop() gives their
// methods.
function tusRequests(page) {
  const seen = [];
  const listener = (r) => { if (r.headers()['tus-resumable']) seen.push(r.method()); };
  page.on('request', listener);
  return { stop: () => { page.off('request', listener); return seen; } };
}

async function uploads(session, host, folders, uploadPage) {
  const context = await session.context({ httpCredentials: { username: 'writer', password: 'secret' } });
  await context.addInitScript(recordUploadProgress);
  await context.addInitScript((chunk) => { window.orvaneUploadChunkBytes = chunk; }, CHUNK);
  const page = await context.newPage();
  await page.goto(uploadPage);
  await page.click('#swfcontent_link a');
  await page.waitForSelector('#swf_content .upl-button', { state: 'visible' });
  await session.shoot(page, 'upload-panel');

  // Four chunks through the files button; the second one's connection
  // breaks off, and the page goes on from where the host stands.
  const big = bytes(3 * CHUNK + 1234, 1);
  let tus = tusRequests(page);
  let patches = 0;
  await page.route('**/app/dapplinepro/tus/**', (route) => {
    if (route.request().method() === 'PATCH' && ++patches === 2) return route.abort('connectionreset');
    return route.continue();
  });
  await Promise.all([
    page.waitForEvent('load'),
    page.setInputFiles('#swf_content .upl-files', { name: 'big upload.bin', mimeType: 'application/octet-stream', buffer: big }),
  ]);
  await page.unroute('**/app/dapplinepro/tus/**');
  const bigRequests = tus.stop();
  // The browser reports the break made here; nothing else may be reported.
  const reported = session.errors.splice(0);
  session.errors.push(...reported.filter((e) => !/ERR_CONNECTION_RESET \(\S+\/app\/dapplinepro\/tus\//.test(e)));
  await page.waitForSelector('a[title="big upload.bin"]');
  assert.ok(fs.readFileSync(path.join(folders.uploads, 'big upload.bin')).equals(big), 'bytes of big upload.bin');
  assert.deepEqual(bigRequests, ['POST', 'PATCH', 'PATCH', 'HEAD', 'PATCH', 'PATCH', 'PATCH']);
  assert.equal(await page.evaluate(() => sessionStorage.getItem('progress:big upload.bin')), '100');
  assert.match(await page.evaluate(() => sessionStorage.getItem('total')),
    /^Uploading 1 of 1 file \u00b7 \d+% of 193 KB \u00b7 .+\/s \u00b7 .+ left$/);

  // A folder through the folder button keeps its tree; hidden files stay behind.
  const outside = fs.mkdtempSync(path.join(os.tmpdir(), 'dappline-folder-'));
  const album = path.join(outside, 'Album');
  fs.mkdirSync(path.join(album, 'Day 2'), { recursive: true });
  fs.writeFileSync(path.join(album, 'one.txt'), 'The first file.\n');
  fs.writeFileSync(path.join(album, 'Day 2', 'two.bin'), bytes(CHUNK + 10, 2));
  fs.writeFileSync(path.join(album, '.DS_Store'), 'hidden');
  await Promise.all([page.waitForEvent('load'), page.setInputFiles('#swf_content .upl-folder', album)]);
  await page.waitForSelector('a[title="Album"]');
  const stored = path.join(folders.uploads, 'Album');
  assert.deepEqual(fs.readdirSync(stored).sort(), ['Day 2', 'one.txt']);
  assert.equal(fs.readFileSync(path.join(stored, 'one.txt'), 'utf8'), 'The first file.\n');
  assert.ok(fs.readFileSync(path.join(stored, 'Day 2', 'two.bin')).equals(bytes(CHUNK + 10, 2)));

  // Dropped onto the page.
  await Promise.all([
    page.waitForEvent('load'),
    page.evaluate(() => {
      const data = new DataTransfer();
      data.items.add(new File(['Dropped onto the page.\n'], 'dropped.txt', { type: 'text/plain' }));
      const root = document.documentElement;
      for (const type of ['dragenter', 'dragover', 'drop']) {
        root.dispatchEvent(new DragEvent(type, { dataTransfer: data, bubbles: true, cancelable: true }));
      }
    }),
  ]);
  await page.waitForSelector('a[title="dropped.txt"]');
  assert.equal(fs.readFileSync(path.join(folders.uploads, 'dropped.txt'), 'utf8'), 'Dropped onto the page.\n');

  // A reload in the middle: the page names the unfinished file, and the
  // same file chosen again goes on from where it stopped.
  const resumeFile = path.join(outside, 'resume.bin');
  fs.writeFileSync(resumeFile, bytes(2 * CHUNK + 99, 3));
  let held = null;
  patches = 0;
  await page.route('**/app/dapplinepro/tus/**', (route) => {
    if (route.request().method() === 'PATCH' && ++patches === 2) {
      held = route;  // the second chunk never leaves the browser
      return undefined;
    }
    return route.continue();
  });
  await page.setInputFiles('#swf_content .upl-files', resumeFile);
  await poll('the second chunk under way', () => held);
  await page.reload();
  await held.abort().catch(() => {});
  await page.unroute('**/app/dapplinepro/tus/**');
  await page.click('#swfcontent_link a');
  assert.equal(await page.textContent('.upl-unfinished'), 'Not finished: resume.bin (49%). Choose it again to go on. Forget');
  tus = tusRequests(page);
  await Promise.all([page.waitForEvent('load'), page.setInputFiles('#swf_content .upl-files', resumeFile)]);
  assert.deepEqual(tus.stop(), ['HEAD', 'PATCH', 'PATCH']);
  assert.ok(fs.readFileSync(path.join(folders.uploads, 'resume.bin')).equals(fs.readFileSync(resumeFile)));
  assert.equal(await page.isVisible('.upl-unfinished'), false);
  fs.rmSync(outside, { recursive: true, force: true });

  // A host without tus: the file goes as one multipart form.
  await page.route('**/app/dapplinepro/upload?**', (route) => (route.request().method() === 'OPTIONS'
    ? route.fulfill({ status: 200, body: '' }) : route.continue()));
  tus = tusRequests(page);
  await Promise.all([
    page.waitForEvent('load'),
    page.setInputFiles('#swf_content .upl-files', { name: 'hello form.txt', mimeType: 'text/plain', buffer: Buffer.from('Sent as a form.\n') }),
  ]);
  const formRequests = tus.stop();
  await page.unroute('**/app/dapplinepro/upload?**');
  assert.deepEqual(formRequests, []);
  assert.equal(fs.readFileSync(path.join(folders.uploads, 'hello form.txt'), 'utf8'), 'Sent as a form.\n');

  // Cancelled while the request is under way: the request is held in the
  // browser until the cancel, so nothing reaches the folder.
  held = null;
  let arrivedResolve;
  const arrived = new Promise((resolve) => { arrivedResolve = resolve; });
  await page.route('**/app/dapplinepro/upload?**', (route) => { held = route; arrivedResolve(); });
  await page.click('#swfcontent_link a');
  await page.setInputFiles('#swf_content .upl-files', { name: 'cancel me.txt', mimeType: 'text/plain', buffer: Buffer.from('never stored') });
  await arrived;
  await page.waitForSelector('.progressCancel', { state: 'visible' });
  await page.click('.progressCancel');
  await poll('the cancelled row', () => page.$eval('.progressBarStatus', (s) => s.textContent === 'Cancelled'));
  await poll('the idle total', async () => (await page.textContent('#divStatus')) === '0 Files Uploaded');
  assert.equal(await page.$eval('#btnCancel', (b) => b.disabled), true);
  await held.abort().catch(() => {});
  await page.unroute('**/app/dapplinepro/upload?**');
  assert.equal(fs.existsSync(path.join(folders.uploads, 'cancel me.txt')), false);

  // "Close" folds the panel and shows the folder again.
  await Promise.all([page.waitForEvent('load'), page.click('#btnClose')]);
  await page.waitForSelector('a[title="existing.txt"]');
  session.assertNoConsoleErrors();
}

module.exports = { uploads };
