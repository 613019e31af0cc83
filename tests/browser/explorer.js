// Browser checks of the host's explorer pages; suite.js runs what checks() lists.
// The public explorer is reached as a visitor would, through the short link
// the owner hands out; the guest signs in through the form and works in his
// shares, each change checked on the disk.
'use strict';

const assert = require('assert/strict');
const fs = require('fs');
const path = require('path');

const { poll } = require('./host');
const media = require('./media');

const PHONE = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true };
const GUEST = { name: 'explorer', password: 'open sesame' };
const ODD_NAME = 'Tom & Jerry <b>.txt';
const ODD_FOLDER = '50% off & <i>more';

// ---------------------------------------------------------------------------
// The folders and shares, made once for both checks

function makeFolders(root) {
  const base = path.join(root, 'explorer');
  const f = {
    public: path.join(base, 'pub-folder'),
    gallery: path.join(base, 'pub-gallery'),
    write: path.join(base, 'team-write'),
    read: path.join(base, 'team-read'),
    other: path.join(base, 'team-other'),
  };
  for (const dir of Object.values(f)) fs.mkdirSync(dir, { recursive: true });
  fs.mkdirSync(path.join(f.public, 'Holiday'));
  fs.writeFileSync(path.join(f.public, 'Holiday', 'inside.txt'), 'In the holiday folder.\n');
  fs.mkdirSync(path.join(f.public, 'Holiday', ODD_FOLDER));
  fs.writeFileSync(path.join(f.public, 'Holiday', ODD_FOLDER, 'deep.txt'), 'Two levels down.\n');
  fs.writeFileSync(path.join(f.public, 'summary.txt'), 'The summary of the public folder.\n');
  fs.writeFileSync(path.join(f.public, ODD_NAME), 'A name that looks like markup.\n');
  fs.writeFileSync(path.join(f.public, 'beach.png'), media.png(480, 320, [250, 200, 120], [40, 140, 220]));
  fs.writeFileSync(path.join(f.gallery, 'city.png'), media.png(480, 320, [90, 90, 110], [230, 160, 60]));
  fs.writeFileSync(path.join(f.gallery, 'forest.png'), media.png(320, 480, [30, 110, 50], [170, 220, 120]));
  fs.writeFileSync(path.join(f.write, 'draft.txt'), 'A draft to rename and delete.\n');
  fs.writeFileSync(path.join(f.write, 'keep.txt'), 'A file to copy and move.\n');
  fs.writeFileSync(path.join(f.read, 'readme.txt'), 'Read, do not touch.\n');
  fs.writeFileSync(path.join(f.other, 'secret.txt'), 'For another team.\n');
  return f;
}

async function permit(host, shareId, guestId, write) {
  const ids = `shareid=${shareId}&userid=${guestId}`;
  const added = await host.owner('addusertoshare', { query: ids });
  if (!added.includes('<success>1</success>')) throw new Error(`addusertoshare: ${added}`);
  const access = await host.owner('setuseraccessforshare', { query: `${ids}&write=${write ? 1 : 0}` });
  if (!access.includes('<success>1</success>')) throw new Error(`setuseraccessforshare: ${access}`);
}

async function setUp(ctx) {
  const { host } = ctx;
  const folders = makeFolders(ctx.root);
  const guestId = host.addGuest(GUEST.name, GUEST.password);
  const otherId = host.addGuest('someone-else', 'another secret');
  await host.addShare('Public Folder', folders.public, { isPublic: true });
  await host.addShare('Public Gallery', folders.gallery, { isPublic: true, viewmode: 'GALLERY' });
  await permit(host, await host.addShare('Team Write', folders.write), guestId, true);
  await permit(host, await host.addShare('Team Read', folders.read), guestId, false);
  await permit(host, await host.addShare('Other Team', folders.other), otherId, true);
  return folders;
}

// The address the owner hands out, below the test host.
async function shareLink(host, name) {
  const answer = await host.owner('geturlforemail', { query: `sharename=${encodeURIComponent(name)}` });
  const link = new URL(decodeURIComponent(answer.trim()));
  assert.match(link.pathname, /^\/url[A-Za-z0-9_-]+$/, `the link of ${name}: ${answer}`);
  return host.base + link.pathname;
}

// ---------------------------------------------------------------------------
// Page helpers

function entryNames(page) {
  return page.$$eval('.expl-content .expl-label', (ls) => ls.map((l) => l.textContent));
}

function crumbs(page) {
  return page.$$eval('.expl-crumbs li', (ls) => ls.map((l) => l.textContent));
}

async function waitForEntries(page, names) {
  await poll(`the entries ${names.join(', ')}`, async () => {
    const shown = await entryNames(page);
    return JSON.stringify(shown) === JSON.stringify(names);
  }, 30000).catch(async (e) => {
    throw new Error(`${e.message}; shown: ${JSON.stringify(await entryNames(page).catch(() => []))}`);
  });
}

// The table's rows have icons too: a grid is known by its thumbnails.
function picturesLoaded(page, selector = '.expl-content img') {
  return page.$$eval(selector, (imgs) => imgs.length > 0 &&
    imgs.every((img) => img.complete && img.naturalWidth > 0));
}

function hashOf(page) {
  return new URL(page.url()).hash;
}

async function statusShows(page, kind, text) {
  await poll(`the status "${text}"`, () => page.$eval('.expl-status', (s, want) =>
    s.classList.contains('expl-' + want.kind) && s.textContent === want.text, { kind, text }))
    .catch(async (e) => {
      throw new Error(`${e.message}; shown: ${await page.textContent('.expl-status').catch(() => '?')}`);
    });
}

async function entryAction(page, name, action) {
  await page.click(`button[aria-label="Actions for ${name}"]`);
  await page.locator('.expl-dialog').getByRole('button', { name: action, exact: true }).click();
}

async function dialogAnswer(page, text, confirm) {
  const dialog = page.locator('.expl-dialog');
  if (text !== null) await dialog.locator('input').fill(text);
  await dialog.getByRole('button', { name: confirm, exact: true }).click();
}

// ---------------------------------------------------------------------------
// The public explorer

async function publicExplorer(ctx, folders) {
  const { session, host } = ctx;
  const page = await session.page();
  // What the thumbnail requests were answered, for a failure's message.
  const thumbs = [];
  page.on('response', async (r) => {
    if (!r.url().includes('getfsthumbimage')) return;
    const body = await r.body().catch(() => Buffer.alloc(0));
    thumbs.push(`${r.status()} ${r.headers()['content-type']} ${body.length} bytes` +
      (r.status() === 200 ? '' : `: ${body.toString('latin1', 0, 200)}`));
  });
  page.on('requestfailed', (r) => {
    if (r.url().includes('getfsthumbimage')) thumbs.push(`failed: ${r.failure() && r.failure().errorText}`);
  });
  await page.goto(await shareLink(host, 'Public Folder'));
  const url = new URL(page.url());
  assert.equal(url.pathname + url.search, '/ui/core/index.html?mode=public');
  assert.ok(url.hash.startsWith('#expl-tabl.'), url.hash);
  assert.equal(decodeURIComponent(url.hash.slice('#expl-tabl.'.length)), folders.public);

  // Folders first, names as text (the odd name is no markup), sizes and dates.
  await waitForEntries(page, ['Holiday', 'beach.png', 'summary.txt', ODD_NAME]);
  assert.equal(await page.$$eval('.expl-content b', (bs) => bs.length), 0);
  assert.deepEqual(await crumbs(page), ['pub-folder']);
  assert.equal(await page.textContent('h1'), 'pub-folder');
  const row = page.locator('tr', { has: page.locator('.expl-label', { hasText: 'summary.txt' }) });
  assert.match(await row.locator('.expl-size').textContent(), /^\d+(\.\d+)? B$/);
  assert.match(await row.locator('.expl-date').textContent(), /^\d{4}-\d\d-\d\d \d\d:\d\d$/);
  // Anonymous visitors only read.
  assert.equal(await page.isVisible('.expl-tools'), false);
  assert.equal(await page.$$eval('.expl-actions', (bs) => bs.length), 0);
  await session.shoot(page, 'explorer-public');

  // A file link downloads the file.
  const [download] = await Promise.all([page.waitForEvent('download'), row.locator('a').click()]);
  assert.equal(download.suggestedFilename(), 'summary.txt');
  assert.ok(fs.readFileSync(await download.path()).equals(fs.readFileSync(path.join(folders.public, 'summary.txt'))));

  // A folder opens below, the breadcrumbs lead back, and so does Back.
  await page.click('.expl-label:text-is("Holiday")');
  await waitForEntries(page, [ODD_FOLDER, 'inside.txt']);
  assert.deepEqual(await crumbs(page), ['pub-folder', 'Holiday']);
  await page.locator('.expl-label', { hasText: ODD_FOLDER }).click();
  await waitForEntries(page, ['deep.txt']);
  assert.deepEqual(await crumbs(page), ['pub-folder', 'Holiday', ODD_FOLDER]);
  assert.equal(await page.$$eval('.expl-crumbs i, .expl-content i', (is) => is.length), 0);
  await page.click('.expl-crumbs a:text-is("pub-folder")');
  await waitForEntries(page, ['Holiday', 'beach.png', 'summary.txt', ODD_NAME]);
  await page.goBack();
  await waitForEntries(page, ['deep.txt']);
  await page.goBack();
  await waitForEntries(page, [ODD_FOLDER, 'inside.txt']);
  await page.goBack();
  await waitForEntries(page, ['Holiday', 'beach.png', 'summary.txt', ODD_NAME]);

  // The grid shows the picture's thumbnail; the view stays when browsing.
  await page.click('.expl-views button:text-is("Grid")');
  assert.ok(hashOf(page).startsWith('#expl-grid.'), hashOf(page));
  await poll('the grid thumbnails', () => picturesLoaded(page, '.expl-content img.expl-picture'));
  assert.equal(await page.$$eval('img.expl-picture', (imgs) => imgs.map((i) => new URL(i.src).pathname)).then((p) => p.join()),
    '/app/dapplinepro/getfsthumbimage', `thumbnail answers: ${thumbs.join('; ')}`);
  await session.shoot(page, 'explorer-public-grid');
  await page.click('.expl-label:text-is("Holiday")');
  await waitForEntries(page, [ODD_FOLDER, 'inside.txt']);
  assert.ok(hashOf(page).startsWith('#expl-grid.'), hashOf(page));

  // A gallery share's link opens the grid.
  const gallery = await session.page(PHONE);
  await gallery.goto(await shareLink(host, 'Public Gallery'));
  assert.ok(hashOf(gallery).startsWith('#expl-grid.'), hashOf(gallery));
  await waitForEntries(gallery, ['city.png', 'forest.png']);
  await poll('the gallery thumbnails', () => picturesLoaded(gallery, '.expl-content img.expl-picture'));
  await session.shoot(gallery, 'explorer-public-grid-phone');

  const phone = await session.page(PHONE);
  await phone.goto(await shareLink(host, 'Public Folder'));
  await waitForEntries(phone, ['Holiday', 'beach.png', 'summary.txt', ODD_NAME]);
  await poll('the phone icons', () => picturesLoaded(phone));
  await session.shoot(phone, 'explorer-public-phone');

  // A folder no public share holds shows nothing of it, and no address at
  // all says what to do.
  await page.goto(`${host.base}/ui/core/index.html?mode=public#expl-tabl.${encodeURIComponent(folders.write)}`);
  await page.waitForSelector('.expl-empty');
  assert.equal(await page.textContent('.expl-empty'), 'This folder is not shared, or the share has ended.');
  assert.deepEqual(await entryNames(page), []);
  await page.goto(`${host.base}/ui/core/`);
  await page.waitForSelector('.expl-empty');
  assert.match(await page.textContent('.expl-empty'), /^No folder was given/);
  session.assertNoConsoleErrors();
}

// ---------------------------------------------------------------------------
// The guest's explorer

// A share open to guests only links to the sign-in.
async function guestLink(session, host) {
  const page = await session.page();
  const link = new URL(decodeURIComponent((await host.owner('geturlforemail',
    { query: 'sharename=Team%20Write' })).trim()));
  assert.equal(link.hash, '#guest');
  await page.goto(host.base + link.pathname + link.hash);
  await page.waitForURL((u) => u.pathname === '/ui/guest/');
  await page.waitForSelector('#signin', { state: 'visible' });
  return page;
}

async function signIn(page) {
  await page.fill('input[name="name"]', GUEST.name);
  await page.fill('input[name="password"]', GUEST.password);
  await Promise.all([page.waitForNavigation(), page.click('#signin button[type="submit"]')]);
  await page.waitForSelector('#signedin', { state: 'visible' });
}

async function writeShare(session, page, dir) {
  await page.click('.expl-label:text-is("Team Write")');
  await waitForEntries(page, ['draft.txt', 'keep.txt']);
  assert.deepEqual(await crumbs(page), ['Your shares', 'team-write']);
  assert.equal(await page.isVisible('.expl-tools'), true);
  assert.equal(await page.isVisible('.expl-note'), false);

  await page.click('.expl-newfolder');
  await dialogAnswer(page, 'Work', 'Create');
  await statusShows(page, 'ok', 'Folder \u201cWork\u201d created.');
  assert.ok(fs.statSync(path.join(dir, 'Work')).isDirectory());
  await waitForEntries(page, ['Work', 'draft.txt', 'keep.txt']);

  await entryAction(page, 'draft.txt', 'Rename');
  await page.locator('.expl-dialog input').fill('final.txt');
  await session.shoot(page, 'explorer-guest-rename', false);
  await dialogAnswer(page, null, 'Rename');
  await statusShows(page, 'ok', 'Renamed \u201cdraft.txt\u201d to \u201cfinal.txt\u201d.');
  assert.equal(fs.existsSync(path.join(dir, 'draft.txt')), false);
  assert.equal(fs.readFileSync(path.join(dir, 'final.txt'), 'utf8'), 'A draft to rename and delete.\n');
  await waitForEntries(page, ['Work', 'final.txt', 'keep.txt']);

  await entryAction(page, 'final.txt', 'Delete');
  await dialogAnswer(page, null, 'Delete');
  await statusShows(page, 'ok', '\u201cfinal.txt\u201d deleted.');
  assert.equal(fs.existsSync(path.join(dir, 'final.txt')), false);
  await waitForEntries(page, ['Work', 'keep.txt']);

  // Copied into the new folder, then a move onto an existing name is
  // refused with the host's reason and changes nothing.
  await entryAction(page, 'keep.txt', 'Copy');
  await page.click('.expl-label:text-is("Work")');
  await waitForEntries(page, []);
  await session.shoot(page, 'explorer-guest-paste');
  await page.click('.expl-paste');
  await statusShows(page, 'ok', '\u201ckeep.txt\u201d copied here.');
  await waitForEntries(page, ['keep.txt']);
  assert.equal(fs.readFileSync(path.join(dir, 'Work', 'keep.txt'), 'utf8'), 'A file to copy and move.\n');
  assert.ok(fs.existsSync(path.join(dir, 'keep.txt')));
  await entryAction(page, 'keep.txt', 'Move');
  await page.click('.expl-crumbs a:text-is("team-write")');
  await waitForEntries(page, ['Work', 'keep.txt']);
  await page.click('.expl-paste');
  await poll('the refused move', () => page.$eval('.expl-status', (s) =>
    s.classList.contains('expl-fail') && /^Could not move \u201ckeep.txt\u201d: \S/.test(s.textContent)));
  assert.ok(fs.existsSync(path.join(dir, 'Work', 'keep.txt')));
  await page.click('.expl-clip button:text-is("Cancel")');
  assert.equal(await page.isVisible('.expl-clip'), false);

  // An upload through the button, with its progress to the end.
  const content = Buffer.from('Uploaded through the explorer.\n'.repeat(3000));
  await page.setInputFiles('.expl-file-input', { name: 'uploaded.txt', mimeType: 'text/plain', buffer: content });
  await poll('the upload', () => page.$eval('.expl-status', (s) => s.classList.contains('expl-ok') ||
    s.classList.contains('expl-fail')));
  assert.equal(await page.getAttribute('.expl-progress', 'data-percent'), '100',
    await page.textContent('.expl-status'));
  await waitForEntries(page, ['Work', 'keep.txt', 'uploaded.txt']);
  assert.ok(fs.readFileSync(path.join(dir, 'uploaded.txt')).equals(content));
  await session.shoot(page, 'explorer-guest-write');
}

async function readShare(session, page, dir) {
  await page.click('.expl-crumbs a:text-is("Your shares")');
  await page.click('.expl-label:text-is("Team Read")');
  await waitForEntries(page, ['readme.txt']);
  assert.equal(await page.isVisible('.expl-tools'), false);
  assert.equal(await page.$$eval('.expl-actions', (bs) => bs.length), 0);
  assert.match(await page.textContent('.expl-note'), /^Read only/);
  assert.equal(await page.isVisible('.expl-note'), true);
  // The host refuses what the page does not offer, and the disk stays.
  const base = new URL(page.url()).origin + '/app/dapplinepro/';
  const made = await page.request.post(base + 'createfolder', { form: { path: path.join(dir, 'Nope') } });
  assert.equal(made.status(), 403);
  assert.match(await made.text(), /<success>0<\/success>/);
  const gone = await page.request.post(base + 'deletefile', { form: { path: path.join(dir, 'readme.txt') } });
  assert.equal(gone.status(), 403);
  assert.equal(fs.existsSync(path.join(dir, 'Nope')), false);
  assert.ok(fs.existsSync(path.join(dir, 'readme.txt')));
  await session.shoot(page, 'explorer-guest-readonly');
}

async function guestExplorer(ctx, folders) {
  const { session, host } = ctx;
  const page = await guestLink(session, host);
  await session.shoot(page, 'explorer-guest-signin');
  await signIn(page);
  // Exactly the shares he was given, read or write.
  await poll('the share roots', async () => (await entryNames(page)).length > 0);
  assert.deepEqual((await entryNames(page)).sort(), ['Team Read', 'Team Write']);
  assert.equal(await page.isVisible('.expl-tools'), false);
  assert.equal(await page.textContent('#who'), `Signed in as ${GUEST.name}`);
  await session.shoot(page, 'explorer-guest-shares');

  await writeShare(session, page, folders.write);
  await readShare(session, page, folders.read);

  await page.click('.expl-crumbs a:text-is("Your shares")');
  await page.click('.expl-label:text-is("Team Write")');
  await waitForEntries(page, ['Work', 'keep.txt', 'uploaded.txt']);
  await page.setViewportSize(PHONE.viewport);
  await session.shoot(page, 'explorer-guest-phone');
  await page.click('button[aria-label="Actions for keep.txt"]');
  await session.shoot(page, 'explorer-guest-actions-phone', false);
  await page.keyboard.press('Escape');
  await poll('the dialog to close', () => page.$eval('.expl-dialog', (d) => !d.open));

  await Promise.all([page.waitForNavigation(), page.click('#signout button')]);
  await page.waitForSelector('#signin', { state: 'visible' });
  assert.equal(await page.isVisible('#signedin'), false);

  // A folder's address asks for the sign-in and, once signed in, opens.
  await page.goto(`${host.base}/ui/guest/#expl-grid.${encodeURIComponent(folders.read)}`);
  await page.waitForSelector('#signin', { state: 'visible' });
  await signIn(page);
  await waitForEntries(page, ['readme.txt']);
  assert.ok(hashOf(page).startsWith('#expl-grid.'), hashOf(page));
  session.assertNoConsoleErrors();
}

// ctx: { session, host, folders, root } from suite.js. Each entry is
// [name, async () => {...}].
function checks(ctx) {
  let ready = null;
  const folders = () => (ready = ready || setUp(ctx));
  return [
    ['public share link opens the explorer at its folder', async () =>
      publicExplorer(ctx, await folders())],
    ['guest explorer: shares, folder, rename, delete, copy, upload; read-only refused', async () =>
      guestExplorer(ctx, await folders())],
  ];
}

module.exports = { checks };
