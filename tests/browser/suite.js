#!/usr/bin/env node
// The browser suite: Debian's Chromium, driven by playwright-core, against a
// real orvane-host on a temporary profile. It uses the share pages as a
// visitor would (downloads, uploads through the page's uploader, the
// gallery's lightbox and slideshow, the music player, the zip window),
// fails on any console error of any page, and saves a screenshot of each
// page (desktop and phone) into the output folder.
//
//   node suite.js --host build/bin/orvane-host --out build/tests/browser/screenshots
//
// Without Chromium the suite prints a "skipped" line and exits with 0; any
// other missing piece is a failure.
'use strict';

const assert = require('assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');

const { Host, poll } = require('./host');
const media = require('./media');
const { uploads: uploadWalk } = require('./upload');
// Checks of the host's own pages, each module adding its list.
const PAGE_SUITES = [require('./explorer'), require('./owner'), require('./zip'), require('./tls')];

const CHROMIUM = process.env.ORVANE_CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--no-sandbox', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--no-first-run',
];
const DESKTOP = { viewport: { width: 1280, height: 900 } };
const PHONE = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true };

function option(name, fallback) {
  const i = process.argv.indexOf(name);
  return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
}

// ---------------------------------------------------------------------------
// The shared folders

const PICTURES = {
  'beach.png': [[250, 200, 120], [40, 140, 220]],
  'city.png': [[90, 90, 110], [230, 160, 60]],
  'forest.png': [[30, 110, 50], [170, 220, 120]],
  'sunset.png': [[250, 120, 40], [110, 30, 110]],
};
const SONGS = ['01 Opening.mp3', "02 It's Me.mp3", '03 Finale.mp3'];

function makeFolders(root) {
  const share = path.join(root, 'share');
  fs.mkdirSync(path.join(share, 'Trip'), { recursive: true });
  fs.writeFileSync(path.join(share, 'notes.txt'), 'Notes for the list page.\n');
  fs.writeFileSync(path.join(share, 'Report 2010.pdf'), Buffer.from('%PDF-1.4\n% test document\n'));
  const random = Buffer.alloc(70000);
  for (let i = 0; i < random.length; i++) random[i] = (i * 7919 + (i >> 8)) & 0xff;
  fs.writeFileSync(path.join(share, 'data.bin'), random);
  for (const [name, [from, to]] of Object.entries(PICTURES)) {
    fs.writeFileSync(path.join(share, name), media.png(480, 320, from, to));
  }
  fs.writeFileSync(path.join(share, 'Trip', 'inside.txt'), 'In the trip folder.\n');
  fs.writeFileSync(path.join(share, 'Trip', 'harbour.png'), media.png(320, 480, [20, 60, 120], [200, 220, 240]));
  for (const song of SONGS) fs.writeFileSync(path.join(share, song), media.silentMp3(1.5));
  const uploads = path.join(root, 'uploads');
  fs.mkdirSync(uploads);
  fs.writeFileSync(path.join(uploads, 'existing.txt'), 'Already here.\n');
  return { share, uploads };
}

// ---------------------------------------------------------------------------
// Browser helpers

class Session {
  constructor(browser, screenshots) {
    this.browser = browser;
    this.screenshots = screenshots;
    this.errors = [];
    this.contexts = [];
  }

  async context(options = {}) {
    const context = await this.browser.newContext({ ...DESKTOP, ...options });
    context.setDefaultTimeout(30000);  // generous: CI shares two cores
    context.on('page', (page) => this.watch(page));
    this.contexts.push(context);
    return context;
  }

  watch(page) {
    page.on('console', (msg) => {
      if (msg.type() !== 'error') return;
      const where = msg.location() && msg.location().url;
      // The browser's own icon request: the pages name no icon and the host
      // has none at its root.
      if (where && new URL(where).pathname === '/favicon.ico') return;
      this.errors.push(`${page.url()}: console: ${msg.text()}${where ? ` (${where})` : ''}`);
    });
    page.on('pageerror', (e) => this.errors.push(`${page.url()}: uncaught: ${e.message}`));
  }

  async page(options) {
    const context = await this.context(options);
    return context.newPage();
  }

  // The whole page, or what the screen shows (a lightbox over the page).
  async shoot(page, name, fullPage = true) {
    fs.mkdirSync(this.screenshots, { recursive: true });
    await page.screenshot({ path: path.join(this.screenshots, `${name}.png`), fullPage });
  }

  async close() {
    for (const c of this.contexts) await c.close().catch(() => {});
    this.contexts = [];
  }

  assertNoConsoleErrors() {
    const errors = this.errors.splice(0);
    assert.deepEqual(errors, [], 'console errors on the pages');
  }
}

function allImagesLoaded(page, selector) {
  return page.$$eval(selector, (imgs) => imgs.length > 0 &&
    imgs.every((img) => img.complete && img.naturalWidth > 0));
}

async function shootPhone(session, url, name, options = {}) {
  const page = await session.page({ ...PHONE, ...options });
  await page.goto(url);
  await poll(`${name} images`, () => page.$$eval('img', (imgs) =>
    imgs.every((img) => !img.currentSrc || (img.complete && img.naturalWidth > 0))));
  await session.shoot(page, name);
}

// ---------------------------------------------------------------------------
// The checks

async function listPage(session, host, folders) {
  const page = await session.page();
  await page.goto(host.sharePage + '?vm=list');
  await poll('the list icons', () => allImagesLoaded(page, '#dpb_content img'));
  await session.shoot(page, 'list');

  const links = await page.$$eval('td.tbl_filename a', (as) => as.map((a) => ({
    href: a.href, title: a.getAttribute('title'), text: a.textContent,
  })));
  const names = links.map((l) => l.title);
  assert.deepEqual(names, ['Trip', "01 Opening.mp3", "02 It's Me.mp3", '03 Finale.mp3',
    'Report 2010.pdf', 'beach.png', 'city.png', 'data.bin', 'forest.png', 'notes.txt',
    'sunset.png']);
  for (const link of links.filter((l) => l.title !== 'Trip')) {
    const response = await page.request.get(link.href);
    assert.equal(response.status(), 200, link.href);
    const expected = fs.readFileSync(path.join(folders.share, link.title));
    assert.ok(Buffer.from(await response.body()).equals(expected), `bytes of ${link.title}`);
  }

  // The download button hands the file over as a download.
  const row = page.locator('tr', { has: page.locator('a[title="data.bin"]') });
  const [download] = await Promise.all([
    page.waitForEvent('download'),
    row.locator('img[title="Download File"]').click(),
  ]);
  assert.equal(download.suggestedFilename(), 'data.bin');
  const saved = fs.readFileSync(await download.path());
  assert.ok(saved.equals(fs.readFileSync(path.join(folders.share, 'data.bin'))), 'downloaded bytes');

  // A folder link opens the folder one level down, with the way back up.
  await page.click('a[title="Trip"]');
  await page.waitForSelector('text=Go up one Level');
  assert.deepEqual(await page.$$eval('td.tbl_filename a[title]', (as) => as.map((a) => a.title)),
    ['harbour.png', 'inside.txt']);
  await poll('the sub-folder icons', () => allImagesLoaded(page, '#dpb_content img'));
  await page.click('text=Go up one Level');
  await page.waitForSelector('a[title="notes.txt"]');

  await shootPhone(session, host.sharePage + '?vm=list', 'list-phone');
  session.assertNoConsoleErrors();
}

function lightboxState(page) {
  return page.evaluate(() => {
    const overlay = document.getElementById('overlay');
    const img = document.getElementById('lightboxImage');
    return {
      open: !!overlay && overlay.style.display !== 'none' && window.Lightbox.isOpen(),
      counter: (document.getElementById('lightboxNumber') || {}).textContent || '',
      caption: (document.getElementById('lightboxCaption') || {}).textContent || '',
      // Loaded and faded in (the screenshots catch no half-faded picture).
      loaded: !!img && img.complete && img.naturalWidth > 0 &&
        getComputedStyle(img).opacity === '1' && getComputedStyle(overlay).opacity === '1',
    };
  });
}

async function waitForPicture(page, counter, caption) {
  return poll(`picture ${counter}`, async () => {
    const s = await lightboxState(page);
    return s.open && s.loaded && s.counter === counter && (!caption || s.caption === caption);
  });
}

async function gallery(session, host) {
  const names = Object.keys(PICTURES).sort();
  const page = await session.page();
  await page.goto(host.sharePage + '?vm=gallery');
  assert.equal(await page.$$eval('.img_wrapper img.image', (imgs) => imgs.length), names.length);
  await poll('every thumbnail and tile', () => allImagesLoaded(page, 'img.image'));
  await session.shoot(page, 'gallery');

  // A click on a thumbnail opens it; the arrow keys move and wrap.
  await page.click(`a[title="${names[1]}"]`);
  await waitForPicture(page, `Image 2 of ${names.length}`, names[1]);
  await session.shoot(page, 'gallery-lightbox', false);
  await page.keyboard.press('ArrowRight');
  await waitForPicture(page, `Image 3 of ${names.length}`, names[2]);
  await page.keyboard.press('ArrowLeft');
  await page.keyboard.press('ArrowLeft');
  await waitForPicture(page, `Image 1 of ${names.length}`, names[0]);
  await page.keyboard.press('ArrowLeft');
  await waitForPicture(page, `Image 4 of ${names.length}`, names[3]);
  await page.keyboard.press('Escape');
  await poll('the lightbox to close', async () => !(await lightboxState(page)).open);

  // The slideshow starts at the first picture and goes on by itself.
  await page.evaluate(() => { window.Lightbox.options.slideShowDelay = 1200; });
  await page.click('.photos_menu_slideshow a');
  await waitForPicture(page, `Image 1 of ${names.length}`, names[0]);
  await waitForPicture(page, `Image 2 of ${names.length}`, names[1]);
  await waitForPicture(page, `Image 3 of ${names.length}`, names[2]);
  await page.keyboard.press('Space');  // stops it
  await page.keyboard.press('Escape');

  // A folder tile opens the folder's gallery with the way back up.
  await page.click('.folder_wrapper a[href="Trip/?vm=gallery"]');
  await page.waitForSelector('.ph_folder_up');
  await poll('the sub-folder tiles', () => allImagesLoaded(page, 'img.image'));
  assert.deepEqual(await page.$$eval('a[rel^="lightbox"]', (as) => as.map((a) => a.title)), ['harbour.png']);

  // On a phone a swipe moves to the next picture.
  const phone = await session.page(PHONE);
  await phone.goto(host.sharePage + '?vm=gallery');
  await poll('the phone thumbnails', () => allImagesLoaded(phone, 'img.image'));
  await session.shoot(phone, 'gallery-phone');
  await phone.tap(`a[title="${names[0]}"]`);
  await waitForPicture(phone, `Image 1 of ${names.length}`, names[0]);
  await phone.evaluate(() => {
    const stage = document.querySelector('.lb-stage');
    const touch = (x) => new Touch({ identifier: 1, target: stage, clientX: x, clientY: 300 });
    stage.dispatchEvent(new TouchEvent('touchstart', { touches: [touch(300)], changedTouches: [touch(300)], bubbles: true }));
    stage.dispatchEvent(new TouchEvent('touchend', { touches: [], changedTouches: [touch(120)], bubbles: true }));
  });
  await waitForPicture(phone, `Image 2 of ${names.length}`, names[1]);
  await session.shoot(phone, 'gallery-lightbox-phone', false);
  session.assertNoConsoleErrors();
}

function playerState(page) {
  return page.evaluate(() => {
    const audio = document.querySelector('#jquery_jplayer audio');
    const current = document.querySelector('#jplayer_playlist a.jplayer_playlist_current');
    return {
      time: audio ? audio.currentTime : 0,
      paused: audio ? audio.paused : true,
      src: audio ? decodeURIComponent(audio.currentSrc || audio.src || '') : '',
      current: current ? current.textContent : '',
      shown: document.getElementById('jplayer_play_time').textContent,
    };
  });
}

async function music(session, host) {
  const page = await session.page();
  await page.goto(host.sharePage + '?vm=music');
  await page.waitForSelector('#jplayer_playlist a');
  assert.deepEqual(await page.$$eval('#jplayer_playlist li a', (as) => as.map((a) => a.textContent)), SONGS);
  assert.equal((await playerState(page)).current, SONGS[0]);
  await session.shoot(page, 'music');

  // A click plays the song: its time runs.
  await page.click('#jplayer_playlist_item_0');
  await poll('the first song to play', async () => {
    const s = await playerState(page);
    return !s.paused && s.time > 0.3 && s.src.endsWith('/' + SONGS[0]);
  });
  // At its end the next one follows by itself.
  await poll('the second song', async () => {
    const s = await playerState(page);
    return s.current === SONGS[1] && s.src.endsWith('/' + SONGS[1]) && !s.paused && s.time > 0.2;
  }, 30000);
  await session.shoot(page, 'music-playing');

  // Pause stops the clock; a click on another entry switches to it.
  await page.click('#jplayer_pause');
  const pausedAt = (await playerState(page)).time;
  assert.equal((await playerState(page)).paused, true);
  await page.click('#jplayer_playlist_item_2');
  await poll('the third song', async () => {
    const s = await playerState(page);
    return s.current === SONGS[2] && !s.paused && s.time > 0.2;
  });
  assert.ok(pausedAt > 0);
  await page.click('#jplayer_stop');
  await poll('the stop', async () => {
    const s = await playerState(page);
    return s.paused && s.time === 0;
  });

  await shootPhone(session, host.sharePage + '?vm=music', 'music-phone');
  session.assertNoConsoleErrors();
}

// ---------------------------------------------------------------------------

async function main() {
  if (!fs.existsSync(CHROMIUM)) {
    console.log(`browser suite skipped: no Chromium at ${CHROMIUM}`);
    return 0;
  }
  const hostPath = option('--host', '');
  const screenshots = path.resolve(option('--out', 'screenshots'));
  if (!hostPath || !fs.existsSync(hostPath)) {
    console.error(`browser suite: orvane-host not found (--host ${hostPath})`);
    return 1;
  }
  let playwright;
  try {
    playwright = require('playwright-core');
  } catch (e) {
    console.error('browser suite: playwright-core is missing; run scripts/install-deps');
    return 1;
  }

  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'dappline-browser-'));
  const host = new Host(path.resolve(hostPath), root);
  let browser = null;
  let failed = 0;
  try {
    const folders = makeFolders(root);
    const writer = host.addGuest('writer', 'secret');
    await host.start(folders.share);
    const uploadPage = await host.privateShare('Drop Box', folders.uploads, writer);
    browser = await playwright.chromium.launch({ executablePath: CHROMIUM, headless: true, args: CHROMIUM_ARGS });
    const session = new Session(browser, screenshots);
    const checks = [
      ['list page links download the right bytes', () => listPage(session, host, folders)],
      ['uploads: chunks with a break, a folder, a drop, a reload, a form, a cancel', () => uploadWalk(session, host, folders, uploadPage)],
      ['gallery thumbnails, lightbox, keys, slideshow and swipe', () => gallery(session, host)],
      ['music play list, playing and the next song', () => music(session, host)],
    ];
    for (const suite of PAGE_SUITES) checks.push(...suite.checks({ session, host, folders, root }));
    const only = option('--only', '');
    for (const [name, run] of checks) {
      if (only && !name.includes(only)) continue;
      try {
        await run();
        console.log(`ok - ${name}`);
      } catch (e) {
        failed++;
        session.errors.splice(0);
        console.log(`not ok - ${name}\n  ${String(e.stack || e).split('\n').join('\n  ')}`);
      } finally {
        await session.close();
      }
    }
    console.log(`screenshots in ${screenshots}`);
  } catch (e) {
    failed++;
    console.log(`not ok - setting up: ${e.stack || e}`);
  } finally {
    if (browser) await browser.close().catch(() => {});
    const exit = await host.stop();
    if (exit && exit.code !== 0 && exit.code !== null) {
      failed++;
      console.log(`not ok - orvane-host exited with ${exit.code}`);
    }
    if (failed) console.log(`--- orvane-host output ---\n${host.output}`);
    fs.rmSync(root, { recursive: true, force: true });
  }
  console.log(failed ? `${failed} browser check(s) failed` : 'browser suite passed');
  return failed ? 1 : 0;
}

main().then((code) => process.exit(code), (e) => {
  console.error(e);
  process.exit(1);
});
