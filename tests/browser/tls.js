// The share pages over TLS in Chromium: a host started with a self-signed
// certificate serves the gallery on https, every answer carries HSTS, and
// the page's thumbnails and scripts load without a mixed-content warning.
'use strict';

const assert = require('assert/strict');
const path = require('path');

const { Host, poll } = require('./host');

async function galleryOverTls({ session, host, folders, root }) {
  const tlsHost = new Host(host.executable, path.join(root, 'tls'));
  try {
    const page0 = await tlsHost.start(folders.share, ['--tls-self-signed']);
    assert.match(page0, /^https:\/\//, 'the printed share address is https');
    assert.match(tlsHost.output, /TLS certificate SHA-256 fingerprint: /);
    const context = await session.context({ ignoreHTTPSErrors: true });
    const page = await context.newPage();
    const response = await page.goto(`${page0}?vm=gallery`);
    assert.equal(response.status(), 200);
    assert.match(response.headers()['strict-transport-security'] || '', /max-age=\d+/);
    await poll('the gallery thumbnails over https', () => page.$$eval('img.image', (imgs) =>
      imgs.length > 0 && imgs.every((img) => img.complete && img.naturalWidth > 0)));
    session.assertNoConsoleErrors();
  } finally {
    await tlsHost.stop();
  }
}

module.exports = {
  checks: (env) => [['the gallery over https with a self-signed certificate', () => galleryOverTls(env)]],
};
