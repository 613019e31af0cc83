// Browser checks of the share pages' zip window; suite.js runs what checks()
// lists. The window is opened by the list page's "Download Zip" link, as a
// visitor opens it, and what it produces is checked with unzip.
'use strict';

const assert = require('assert/strict');
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');

const { poll } = require('./host');

// Sparse files: the zip job reads zeros as fast as the page cache gives
// them, and the test writes nothing of their size.
function sparse(file, size) {
  const fd = fs.openSync(file, 'w');
  fs.ftruncateSync(fd, size);
  fs.closeSync(fd);
}

function makeFolders(root) {
  const f = { big: path.join(root, 'zip-big'), over: path.join(root, 'zip-over') };
  fs.mkdirSync(f.big);
  fs.mkdirSync(f.over);
  // Big enough that the window's polls, a second apart, find the job still
  // adding: zeros read from sparse files are stored at page-cache speed, and
  // 192 MiB were once done within the first second.
  for (let i = 0; i < 4; i++) sparse(path.join(f.big, `file-${i}.bin`), 200 * 1048576);
  // One byte over the content limit: refused before anything is read.
  sparse(path.join(f.over, 'too-big.bin'), 1073741824 + 1);
  return f;
}

// What a folder should become in a zip: its files and folders, relative,
// folders with a trailing "/". The zip being sent may still lie in the
// folder (it goes once sent); no zip holds such names.
function entriesOf(folder, prefix = '') {
  const out = [];
  for (const name of fs.readdirSync(folder)) {
    if (/^\.?Orvane_Zip_/.test(name)) continue;
    const full = path.join(folder, name);
    if (fs.statSync(full).isDirectory()) {
      out.push(`${prefix}${name}/`, ...entriesOf(full, `${prefix}${name}/`));
    } else {
      out.push(prefix + name);
    }
  }
  return out;
}

// unzip's own test of every entry's CRC, then the names it lists.
function checkZip(file, folder) {
  const test = execFileSync('unzip', ['-t', file], { encoding: 'utf8' });
  assert.match(test, /No errors detected/, test);
  const listed = execFileSync('unzip', ['-Z1', file], { encoding: 'utf8' }).split('\n').filter(Boolean);
  assert.deepEqual(listed.sort(), entriesOf(folder).sort());
}

// Records every text the window's state, file and error boxes show. A popup's
// first (blank) window is kept for the page it then loads, so the listener
// sits on the window, which outlives that first document.
function recordZipTexts() {
  window.addEventListener('DOMContentLoaded', () => {
    window.zipTexts = {};
    for (const id of ['zipstate', 'zipfile', 'ziperror']) {
      const box = document.getElementById(id);
      if (!box) continue;
      window.zipTexts[id] = [box.textContent];
      new MutationObserver(() => window.zipTexts[id].push(box.textContent))
        .observe(box, { childList: true, characterData: true, subtree: true });
    }
  });
}

async function openZipWindow(session, url) {
  const context = await session.context();
  await context.addInitScript(recordZipTexts);
  const page = await context.newPage();
  await page.goto(url + '?vm=list');
  const [popup] = await Promise.all([page.waitForEvent('popup'), page.click('.downloadzip a')]);
  return popup;
}

async function zipAndCheck(session, url, folder, shot) {
  const popup = await openZipWindow(session, url);
  const download = await popup.waitForEvent('download', { timeout: 120000 });
  assert.match(download.suggestedFilename(), /^Orvane_Zip_\d+\.zip$/);
  checkZip(await download.path(), folder);
  const texts = await popup.evaluate(() => window.zipTexts);
  const states = texts.zipstate;
  assert.ok(states.includes('Preparing the zip\u2026'), `zip window states: ${states}`);
  assert.ok(states[states.length - 1].startsWith('Your download starts now'), `zip window states: ${states}`);
  assert.deepEqual(texts.ziperror.filter(Boolean), []);
  if (shot) await session.shoot(popup, shot);
  await download.delete();
  return texts;
}

// Nothing of the job may stay in the shared folder once its zip was sent or
// it failed: neither the finished zip nor its hidden part file.
async function noZipLeftIn(folder) {
  await poll(`no zip left in ${folder}`, () =>
    fs.readdirSync(folder).every((name) => !/Orvane_Zip_/.test(name)), 10000);
}

async function smallFolder({ session, host, folders }) {
  await zipAndCheck(session, host.sharePage, folders.share, 'zip-window');
  await noZipLeftIn(folders.share);
  session.assertNoConsoleErrors();
}

async function progress({ session, host }, f) {
  const texts = await zipAndCheck(session, host.sharePageOf('Zip Big'), f.big, null);
  assert.ok(texts.zipfile.some((t) => /^Adding file-\d\.bin$/.test(t)), `zip window files: ${texts.zipfile}`);
  await noZipLeftIn(f.big);
  session.assertNoConsoleErrors();
}

async function refusal({ session, host }, f) {
  const popup = await openZipWindow(session, host.sharePageOf('Zip Over'));
  let downloaded = false;
  popup.on('download', () => { downloaded = true; });
  await popup.waitForFunction(() => document.getElementById('ziperror').textContent !== '');
  assert.match(await popup.textContent('#ziperror'), /^Zip File Download Size of .+ Exceeded$/);
  assert.equal(await popup.textContent('#zipstate'), 'The zip could not be made.');
  assert.equal(downloaded, false);
  await session.shoot(popup, 'zip-window-error');
  await noZipLeftIn(f.over);
  session.assertNoConsoleErrors();
}

async function setUp(ctx) {
  const f = makeFolders(ctx.root);
  await ctx.host.addShare('Zip Big', f.big, { isPublic: true });
  await ctx.host.addShare('Zip Over', f.over, { isPublic: true });
  return f;
}

// ctx: { session, host, folders, root } from suite.js. Each entry is
// [name, async () => {...}].
function checks(ctx) {
  let ready = null;
  const folders = () => (ready = ready || setUp(ctx));
  return [
    ['zip window: the zip arrives and unzip accepts it', () => smallFolder(ctx)],
    ['zip window shows the file being added', async () => progress(ctx, await folders())],
    ['zip window shows why a zip cannot be made', async () => refusal(ctx, await folders())],
  ];
}

module.exports = { checks };
