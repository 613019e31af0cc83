// Browser checks of the owner console (/ui/owner/); suite.js runs what
// checks() lists. The console is driven as an owner would: sign in, share a
// folder, open its link, grant a guest write access, read the history,
// delete the share. Every wait is a bounded poll.
'use strict';

const assert = require('assert/strict');
const fs = require('fs');
const path = require('path');

const { poll } = require('./host');

const PHONE = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true };

// The QR code of this text at level M, version 3, mask 5 (the mask of the
// lowest penalty), as decoded by an independent reader when it was taken.
const QR_TEXT = 'http://127.0.0.1:8080/url3kd9Xa2b';
const QR_MASK = 5;
const QR_ROWS = [
    '#######....#####.#....#######',
    '#.....#.#..#...#....#.#.....#',
    '#.###.#.##....#.#..##.#.###.#',
    '#.###.#.#####.##.#.##.#.###.#',
    '#.###.#..#...###...#..#.###.#',
    '#.....#...#.###.###...#.....#',
    '#######.#.#.#.#.#.#.#.#######',
    '........##.#.#....#..........',
    '#.....#.#.##..##.#..###..###.',
    '##.#.#.#.#.#..#..####...#.##.',
    '#.#...##..##..........#.#....',
    '.....#.#.#.#..###.#...#.#....',
    '..##.##....####.#.#..##.....#',
    '...###.#...####....#.##.#.###',
    '###.#.#..#..####.##..#....#..',
    '.#.#.......#.####...#.##..#.#',
    '.##.#.#####.#.##.#..##....#..',
    '#..###..#.#.#..#####..#.#####',
    '##....#..###.####.###.......#',
    '#..##...#.#.#.##......###....',
    '#.##.##.##..#..###.######.###',
    '........#.#.##.##.###...##...',
    '#######....#.####..##.#.###..',
    '#.....#.....##....#.#...#..#.',
    '#.###.#..#####.##.#######..##',
    '#.###.#....#.#.###..#..#....#',
    '#.###.#..##.####..#.#.#.##.#.',
    '#.....#...#.###.#..#..#...#.#',
    '#######.#..#.##.#.......###..',
];

function consoleUrl(host) {
  return `${host.base}/ui/owner/`;
}

async function notice(page, wanted) {
  await poll(`the notice "${wanted}"`, async () => {
    const box = await page.$('#notice:not([hidden])');
    const text = box ? await box.textContent() : '';
    return text.includes(wanted);
  });
  return page.$eval('#notice', (n) => ({ text: n.textContent, ok: n.classList.contains('ok') }));
}

async function signIn(page, host) {
  await page.goto(consoleUrl(host));
  await page.waitForSelector('#signin:not([hidden])');
  await page.fill('#token', host.token);
  await page.click('#signin-form button[type=submit]');
  await page.waitForSelector('#tabs:not([hidden])');
  await page.waitForSelector('#view-shares:not([hidden])');
}

function card(page, name) {
  return page.locator(`article.share[data-share-name="${name}"]`);
}

async function tab(page, name) {
  await page.click(`#tabs button[data-tab="${name}"]`);
  await page.waitForSelector(`#view-${name}:not([hidden])`);
}

// A refused sign-in is answered 403, which the browser itself reports in
// the console; only that one line is expected.
function dropExpectedRefusal(session, host) {
  const expected = `${consoleUrl(host)}: console: Failed to load resource: the server responded with a status of 403 (Forbidden) (${host.base}/ui/owner/login)`;
  session.errors = session.errors.filter((e) => e !== expected);
}

async function signInRefusesAWrongToken(session, host) {
  const page = await session.page();
  await page.goto(consoleUrl(host));
  await page.waitForSelector('#signin:not([hidden])');
  await session.shoot(page, 'owner-signin');
  await page.fill('#token', 'not-the-token');
  await page.click('#signin-form button[type=submit]');
  const shown = await notice(page, 'Wrong owner token.');
  assert.equal(shown.ok, false);
  assert.equal(await page.isHidden('#tabs'), true);
  // The cookie is the host's and stays out of the page's reach.
  await signIn(page, host);
  assert.equal(await page.evaluate(() => document.cookie.includes('orvane_owner')), false);
  const cookies = await page.context().cookies();
  const owner = cookies.find((c) => c.name === 'orvane_owner');
  assert.ok(owner && owner.httpOnly && owner.sameSite === 'Strict', JSON.stringify(owner));
  await page.click('#signout');
  await page.waitForSelector('#signin:not([hidden])');
  await page.reload();
  await page.waitForSelector('#signin:not([hidden])');
  dropExpectedRefusal(session, host);
  session.assertNoConsoleErrors();
}

async function qrCodeMatchesTheKnownVector(session, host) {
  const page = await session.page();
  await page.goto(consoleUrl(host));
  await page.waitForSelector('#signin:not([hidden])');
  const qr = await page.evaluate(([text, mask]) => {
    const auto = window.OwnerQR.encode(text);
    const fixed = window.OwnerQR.encode(text, { mask });
    const rows = (q) => q.modules.map((r) => r.map((d) => (d ? '#' : '.')).join(''));
    return { auto: { version: auto.version, mask: auto.mask, rows: rows(auto) }, fixed: rows(fixed) };
  }, [QR_TEXT, QR_MASK]);
  assert.equal(qr.auto.version, 3);
  assert.equal(qr.auto.mask, QR_MASK);
  assert.deepEqual(qr.auto.rows, QR_ROWS);
  assert.deepEqual(qr.fixed, QR_ROWS);
  session.assertNoConsoleErrors();
}

// What the QR dialog's canvas shows, read back module by module.
function canvasModules(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById('qr-canvas');
    const text = document.getElementById('qr-text').textContent;
    const qr = window.OwnerQR.encode(text);
    const scale = canvas.width / (qr.size + 8);
    const g = canvas.getContext('2d');
    const pixels = g.getImageData(0, 0, canvas.width, canvas.height).data;
    const rows = [];
    for (let y = 0; y < qr.size; y++) {
      let row = '';
      for (let x = 0; x < qr.size; x++) {
        const px = Math.floor((x + 4 + 0.5) * scale);
        const py = Math.floor((y + 4 + 0.5) * scale);
        row += pixels[(py * canvas.width + px) * 4] < 128 ? '#' : '.';
      }
      rows.push(row);
    }
    return { text, same: rows.join('\n') === qr.modules.map((r) => r.map((d) => (d ? '#' : '.')).join('')).join('\n') };
  });
}

async function ownerPublishesAndManagesAShare(session, host, root) {
  const folder = path.join(root, 'console share');
  fs.mkdirSync(path.join(folder, 'inside'), { recursive: true });
  fs.writeFileSync(path.join(folder, 'first.txt'), 'The first file of the console share.\n');
  fs.writeFileSync(path.join(folder, 'second.txt'), 'The second one.\n');
  const name = 'Console Test';

  const page = await session.page();
  await signIn(page, host);

  // The folder picker: start at the parent, step into the folder.
  await page.fill('#new-location', root);
  await page.click('#browse');
  await page.waitForSelector(`#picker button.folder[data-path="${folder}"]`);
  assert.equal(await page.textContent('#picker-path'), root);
  await session.shoot(page, 'owner-picker', false);
  await page.click(`#picker button.folder[data-path="${folder}"]`);
  await poll('the picked folder', async () => (await page.textContent('#picker-path')) === folder);
  await page.click('#picker-pick');
  // The pick reaches the field when the dialog's promise settles, a moment
  // after the click.
  await poll('the picked folder in the field', async () =>
    (await page.inputValue('#new-location')) === folder);

  await page.fill('#new-name', name);
  await page.click('#create-share');
  assert.equal((await notice(page, `Shared ${folder} as ${name}.`)).ok, true);
  const share = card(page, name);
  await share.waitFor();
  assert.equal(await share.locator('.badge.public').textContent(), 'Public');
  // A second share of the same folder is refused with the reason.
  await page.fill('#new-location', folder);
  await page.fill('#new-name', 'Again');
  await page.click('#create-share');
  assert.equal((await notice(page, `This path is shared already as ${name}.`)).ok, false);
  await page.fill('#new-location', '');
  await page.fill('#new-name', '');

  // The share page link shows the files to anyone.
  const link = await share.locator('a.share-page').getAttribute('href');
  assert.ok(link.startsWith(`${host.base}/app/dapplinepro/share/`), link);
  const visitor = await session.page();
  await visitor.goto(link);
  await visitor.waitForSelector('a[title="first.txt"]');
  assert.ok(await visitor.$('a[title="second.txt"]'));

  // The QR code of the link is drawn on the dialog's canvas.
  await share.locator('.link:has(a.share-page) button.qr').click();
  await page.waitForSelector('#qr[open]');
  const drawn = await canvasModules(page);
  assert.equal(drawn.text, link);
  assert.equal(drawn.same, true, 'the canvas shows the QR code of the link');
  await session.shoot(page, 'owner-qr', false);
  await page.click('#qr button');
  await page.waitForSelector('#qr[open]', { state: 'detached' });
  await session.shoot(page, 'owner-shares');

  // A host guest, then on the share, then allowed to write.
  await tab(page, 'guests');
  await page.fill('#guest-name', 'console-guest');
  await page.fill('#guest-password', 'pw console');
  await page.click('#new-guest button[type=submit]');
  assert.equal((await notice(page, 'Added the guest console-guest.')).ok, true);
  await page.fill('#guest-name', 'generated-guest');
  await page.click('#new-guest button[type=submit]');
  await page.waitForSelector('li.guest[data-guest="generated-guest"] .password code');
  const generated = await page.textContent('li.guest[data-guest="generated-guest"] .password code');
  assert.match(generated, /^[A-Za-z0-9]{12}$/);
  await session.shoot(page, 'owner-guests');

  await tab(page, 'shares');
  await card(page, name).locator('button.access').click();
  await page.waitForSelector('.panel select.add-user');
  await page.selectOption('.panel select.add-user', { label: 'console-guest' });
  await page.click('.panel form.add-guest button[type=submit]');
  assert.equal((await notice(page, `console-guest may now read ${name}.`)).ok, true);
  const row = page.locator('.panel li.user[data-user="console-guest"]');
  await row.waitFor();
  assert.equal(await row.locator('input.write').isChecked(), false);
  await row.locator('input.write').check();
  assert.equal((await notice(page, `console-guest may now change files in ${name}.`)).ok, true);

  // Guests only: the switch goes off; going public again asks first.
  await page.locator('.panel input.public-switch').uncheck();
  assert.equal((await notice(page, `${name} is open to its guests only now.`)).ok, true);
  await poll('the guests-only badge', async () =>
    (await card(page, name).locator('header .badge').allTextContents()).includes('Guests only'));
  await page.waitForSelector('.panel li.user[data-user="console-guest"] input.write:checked');
  await page.locator('.panel input.public-switch').check();
  await page.waitForSelector('#confirm[open]');
  assert.match(await page.textContent('#confirm-text'), /guest list \(1 guest\) is dropped/);
  await session.shoot(page, 'owner-public-warning', false);
  await page.click('#confirm button[value=cancel]');
  await page.waitForSelector('#confirm[open]', { state: 'detached' });
  // The dialog loses [open] before its close event turns the switch back.
  await poll('the public switch back off', async () =>
    !(await page.locator('.panel input.public-switch').isChecked()));
  await session.shoot(page, 'owner-access');
  const users = await host.owner('getusersforshare', { query: `shareid=${await share.getAttribute('data-share-id')}` });
  assert.match(users, /<username>console-guest<\/username><read>1<\/read><write>1<\/write>/);

  // The share page now asks for credentials and takes the guest's.
  const stranger = await session.context();
  const challenge = await stranger.request.get(link);
  assert.equal(challenge.status(), 401);
  assert.match(challenge.headers()['www-authenticate'] || '', /^Basic /);
  const guest = await session.context({ httpCredentials: { username: 'console-guest', password: 'pw console' } });
  const guestPage = await guest.newPage();
  await guestPage.goto(link);
  await guestPage.waitForSelector('a[title="first.txt"]');
  assert.ok(await guestPage.$('#swfcontent_link'), 'a guest with write access is offered uploads');
  const href = await guestPage.$eval('a[title="first.txt"]', (a) => a.href);
  const download = await guest.request.get(href);
  assert.equal(download.status(), 200);
  assert.equal(await download.text(), 'The first file of the console share.\n');

  // The history shows that download, filtered by share and kind.
  await tab(page, 'history');
  await page.selectOption('#history-share', { label: name });
  await page.selectOption('#history-kind', 'DL');
  await poll('the download in the history', async () => {
    await page.click('#history-refresh');
    const rows = await page.$$eval('#history-table tbody tr', (trs) => trs.map((tr) =>
      Array.from(tr.children).map((td) => td.textContent)));
    return rows.some((r) => r[1] === name && r[2] === path.join(folder, 'first.txt') &&
      r[4] === 'console-guest' && /^\d{4}-\d{2}-\d{2} \d{2}:\d{2}/.test(r[0]) && r[3].endsWith('B'));
  });
  assert.match(await page.textContent('#history-page'), /^Page 1 of 1 \(1 transfer\)$/);
  await session.shoot(page, 'owner-history');
  await page.selectOption('#history-kind', 'UL');
  await page.waitForSelector('#history-empty:not([hidden])');

  await tab(page, 'transfers');
  await page.waitForSelector('#transfers-updated:has-text("Updated at")');
  await tab(page, 'settings');
  await poll('the settings', async () => (await page.textContent('#plugin-version')).startsWith('Share plug-in version'));
  await session.shoot(page, 'owner-settings');

  // On a phone: the same console in one column.
  const phone = await session.page(PHONE);
  await signIn(phone, host);
  await card(phone, name).waitFor();
  await session.shoot(phone, 'owner-shares-phone', false);
  await card(phone, name).locator('button.access').click();
  await phone.waitForSelector('.panel li.user[data-user="console-guest"]');
  await phone.locator('.panel h4').scrollIntoViewIfNeeded();
  await session.shoot(phone, 'owner-access-phone', false);
  await tab(phone, 'history');
  await phone.waitForSelector('#history-table tbody tr');
  await session.shoot(phone, 'owner-history-phone', false);

  // A change of settings: an upload limit, shown beside the folder's size.
  await tab(page, 'shares');
  await card(page, name).locator('button.edit').click();
  await page.fill('.panel form.edit-form input[name=sharesizelimit]', '5');
  await page.click('.panel form.edit-form button[type=submit]');
  assert.equal((await notice(page, `Saved the share ${name}.`)).ok, true);
  await poll('the size beside the limit', async () =>
    /^\d+ B used of 5\.0 MB$/.test(await card(page, name).locator('dd.size').textContent()));

  // Deleting asks first; afterwards the link answers the error page.
  await tab(page, 'shares');
  await card(page, name).locator('button.delete').click();
  await page.waitForSelector('#confirm[open]');
  await page.click('#confirm-ok');
  assert.equal((await notice(page, `Deleted the share ${name}.`)).ok, true);
  await card(page, name).waitFor({ state: 'detached' });
  // The plug-in answers a share name it does not know with its error page
  // (status 200, as its visitors' pages have always had it).
  const gone = await stranger.request.get(link);
  const goneText = await gone.text();
  assert.match(goneText, /<title>Orvane - Dappline Error<\/title>/);
  assert.equal(goneText.includes('first.txt'), false);
  assert.equal(fs.existsSync(path.join(folder, 'first.txt')), true, 'the files stay');
  session.assertNoConsoleErrors();
}

// A quick share; the suite's public share holds pictures: pre-render
// them, then try to mail its link on a profile without a mail server.
async function imageCacheAndMail(session, host, root) {
  const page = await session.page();
  await signIn(page, host);

  // A quick share of a folder whose name holds "%" and a blank.
  const quick = path.join(root, 'quick 50% folder');
  fs.mkdirSync(quick);
  await page.fill('#new-location', quick);
  await page.click('#quick-share');
  const shared = await notice(page, `Shared ${quick} as `);
  assert.equal(shared.ok, true);
  const quickName = shared.text.slice(`Shared ${quick} as `.length, -1);
  assert.equal(await card(page, quickName).locator('dd.location').textContent(), quick);
  await page.fill('#new-location', quick);
  await page.click('#quick-share');
  assert.equal((await notice(page, `This path is shared already as ${quickName}.`)).ok, true);

  const share = card(page, 'share');
  await share.locator('button.cache').click();
  await page.click('.panel button.start-cache');
  const started = await notice(page, 'Pre-rendering ');
  assert.equal(started.ok, true);
  assert.match(started.text, /^Pre-rendering \d+ pictures of share\.$/);
  const total = Number(started.text.match(/\d+/)[0]);
  await poll('the finished run', async () =>
    (await page.textContent('.panel .cache-state')) === `${total} of ${total} pictures ready`);
  assert.equal(await page.$eval('.panel progress', (p) => p.value === p.max), true);
  await session.shoot(page, 'owner-cache');
  // The plug-in does not answer a cancel; the host reports that silence as
  // 403, which the browser notes in the console and the console takes as done.
  await page.click('.panel button.cancel-cache');
  assert.equal((await notice(page, 'Pre-rendering stopped.')).ok, true);
  const silence = `${consoleUrl(host)}#shares: console: Failed to load resource: the server responded with a status of 403 (Forbidden) (${host.base}/app/dapplinepro/cancelcaching)`;
  session.errors = session.errors.filter((e) => e !== silence && e !== silence.replace('#shares', ''));

  await share.locator('button.email').click();
  await poll('the link to mail', async () => (await page.inputValue('.panel input.email-link')).startsWith(host.base));
  await page.fill('.panel input[name=from]', 'Test Owner');
  await page.fill('.panel input[name=toemailid]', 'friend@example.org');
  await page.fill('.panel input[name=replyto]', 'owner@example.org');
  await page.fill('.panel textarea[name=message]', 'Pictures for you, 50% of them new.');
  await page.click('.panel form.email-form button[type=submit]');
  const refused = await notice(page, 'The mail was not sent');
  assert.equal(refused.ok, false);
  assert.match(refused.text, /Mail server is not configured/);
  await page.selectOption('.panel select[name=which]', 'local');
  await poll('the local link', async () => /^http:\/\/[\d.]+:\d+\/url/.test(await page.inputValue('.panel input.email-link')));
  await session.shoot(page, 'owner-email');
  session.assertNoConsoleErrors();
}

// ctx: { session, host, folders, root } from suite.js. Each entry is
// [name, async () => {...}].
function checks(ctx) {
  const { session, host, root } = ctx;
  return [
    ['owner console: sign-in refuses a wrong token, the cookie is HttpOnly', () => signInRefusesAWrongToken(session, host)],
    ['owner console: the QR encoder matches a known code', () => qrCodeMatchesTheKnownVector(session, host)],
    ['owner console: share a folder, grant a guest, read the history, delete', () => ownerPublishesAndManagesAShare(session, host, root)],
    ['owner console: quick share, image cache progress, a mail refused for want of a server', () => imageCacheAndMail(session, host, root)],
  ];
}

module.exports = { checks };
