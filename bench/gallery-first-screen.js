#!/usr/bin/env node
// Times a gallery page in Debian's Chromium (headless, through the browser
// suite's playwright-core): from the start of the navigation until every
// thumbnail whose tile lies in the first screen has loaded. Each run has a
// browser context of its own, so nothing is cached and no connection is
// reused between runs.
//
//   node gallery-first-screen.js assets URL
//     prints the same-origin addresses other than thumbnails that the page
//     loads (scripts, styles, pictures), for a static copy of it.
//   node gallery-first-screen.js measure RUNS HOST_URL NGINX_URL
//     alternates the two pages (after one run of each that is not counted)
//     and prints "median HOST_S NGINX_S", then lines on where time went.
//
// A thumbnail that fails, a request answered with an error, or a request
// from the peer's page to any other origin fails the run.
'use strict';

const path = require('path');

const CHROMIUM = process.env.ORVANE_CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = [
    '--no-sandbox',
    '--disable-gpu',
    '--disable-background-networking',
    '--disable-component-update',
    '--disable-sync',
    '--no-first-run',
];
const VIEWPORT = {
    width: 1280,
    height: 900
};
const TIMEOUT_MS = 60000;

const isThumb = (url) => /[?&]thumbsize=/.test(url);
// The browser asks for an icon the pages do not name; neither server has one.
const isIcon = (url) => new URL(url).pathname === '/favicon.ico';

// Runs in the page before its own scripts. A tile's place is fixed by the
// style sheet before its picture arrives, so the first screen is known from
// the tiles, once the parser has gone past it (the first screen can be
// complete before the rest of a long page is parsed); the check runs on
// every picture's load event.
function watchFirstScreen() {
    performance.setResourceTimingBufferSize(5000);
    const thumbRe = /[?&]thumbsize=/;
    const state = {done: null, error: null};
    window.__firstScreen = state;
    const check = () => {
        if (state.done)
            return;
        let inView = 0;
        let parsedPast = document.readyState !== 'loading';
        for (const img of document.images) {
            if (!thumbRe.test(img.getAttribute('src') || ''))
                continue;
            const r = (img.closest('.img_wrapper') || img).getBoundingClientRect();
            if (r.top >= innerHeight)
                parsedPast = true;
            if (r.bottom <= 0 || r.top >= innerHeight || r.right <= 0 || r.left >= innerWidth)
                continue;
            if (!(img.complete && img.naturalWidth > 0))
                return;
            inView++;
        }
        if (inView === 0 || !parsedPast)
            return;
        const at = performance.now();
        const thumbs = performance.getEntriesByType('resource').filter((e) => thumbRe.test(e.name));
        const nav = performance.getEntriesByType('navigation')[0];
        const waits = thumbs.map((e) => e.responseEnd - e.requestStart).sort((a, b) => a - b);
        state.done = {
            at,
            inView,
            thumbsLoaded: thumbs.length,
            firstThumbStart: thumbs.length ? Math.min(...thumbs.map((e) => e.startTime)) : 0,
            // From the request sent to its last byte: the server's share of it.
            thumbWait: waits.length ? waits[Math.floor((waits.length - 1) / 2)] : 0,
            pageEnd: nav ? nav.responseEnd : 0,
            // 0 while the page is still being parsed.
            domReady: nav ? nav.domContentLoadedEventStart : 0,
        };
    };
    document.addEventListener('load', check, true);
    document.addEventListener('error', (e) => {
        const src = e.target && e.target.getAttribute && e.target.getAttribute('src');
        if (src && thumbRe.test(src))
            state.error = `thumbnail ${src} failed`;
    }, true);
}

// One navigation in a new context; resolves with the page's figures and
// the requests made until the first screen was complete.
async function visit(browser, url, {sameOriginOnly = false, settle = false} = {}) {
    const context = await browser.newContext({viewport: VIEWPORT});
    context.setDefaultTimeout(TIMEOUT_MS);
    const origin = new URL(url).origin;
    const seen = {thumbs: 0, others: 0, urls: new Set(), problems: []};
    context.on('request', (req) => {
        const u = req.url();
        if (u.startsWith('data:'))
            return;
        if (isThumb(u))
            seen.thumbs++;
        else
            seen.others++;
        if (new URL(u).origin !== origin) {
            if (sameOriginOnly)
                seen.problems.push(`request to another origin: ${u}`);
            return;
        }
        if (!isThumb(u) && u !== url)
            seen.urls.add(u);
    });
    context.on('response', (res) => {
        if (res.status() >= 400 && !isIcon(res.url())) {
            seen.problems.push(`${res.url()} answered ${res.status()}`);
        }
    });
    context.on('requestfailed', (req) => {
        if (!isIcon(req.url()))
            seen.problems.push(`${req.url()} failed: ${req.failure().errorText}`);
    });
    try {
        await context.addInitScript(watchFirstScreen);
        const page = await context.newPage();
        await page.goto(url, {waitUntil: 'commit'});
        const handle = await page.waitForFunction(
            () => window.__firstScreen && (window.__firstScreen.done || window.__firstScreen.error),
            null, {polling: 5});
        const result = await handle.jsonValue();
        if (result.error)
            throw new Error(`${url}: ${result.error}`);
        const counts = {thumbs: seen.thumbs, others: seen.others};
        if (settle)
            await page.waitForLoadState('networkidle');
        if (seen.problems.length)
            throw new Error(`${url}:\n  ${seen.problems.join('\n  ')}`);
        return {...result, requests: counts, urls: [...seen.urls]};
    } finally {
        await context.close().catch(() => {});
    }
}

function median(values) {
    const v = [...values].sort((a, b) => a - b);
    return v[Math.floor((v.length - 1) / 2)];
}

const ms = (x) => `${Math.round(x)} ms`;

function describe(name, runs) {
    const m = (key) => ms(median(runs.map(key)));
    const n = (key) => median(runs.map(key));
    const times = runs.map((r) => r.at);
    const parsed = runs.filter((r) => r.domReady > 0).map((r) => r.domReady);
    const late = runs.length - parsed.length;
    let ready = parsed.length ? `DOMContentLoaded ${ms(median(parsed))}` : 'DOMContentLoaded';
    if (late)
        ready += ` (after the first screen in ${late} of ${runs.length} runs)`;
    const screen = `${m((r) => r.at)} (${ms(Math.min(...times))} to ${ms(Math.max(...times))})`;
    const asked = n((r) => r.requests.thumbs);
    const loaded = n((r) => r.thumbsLoaded);
    return `  ${name}: page ${m((r) => r.pageEnd)}, ${ready}, ` +
        `first thumbnail asked ${m((r) => r.firstThumbStart)}, first screen ${screen};\n` +
        `         ${asked} thumbnails asked and ${loaded} loaded by then ` +
        `(${runs[0].inView} in view), each ${m((r) => r.thumbWait)} from request to last byte; ` +
        `${n((r) => r.requests.others)} other requests`;
}

async function measure(browser, rounds, hostUrl, peerUrl) {
    const host = [];
    const peer = [];
    const hostRun = () => visit(browser, hostUrl);
    const peerRun = () => visit(browser, peerUrl, {sameOriginOnly: true});
    // One uncounted run of each: the browser's own start-up costs.
    await hostRun();
    await peerRun();
    // Taking turns at going first: neither side always follows the other.
    for (let i = 0; i < rounds; i++) {
        if (i % 2)
            peer.push(await peerRun());
        host.push(await hostRun());
        if (!(i % 2))
            peer.push(await peerRun());
    }
    for (const r of [...host, ...peer]) {
        if (r.inView !== host[0].inView) {
            throw new Error(
                `the first screens differ: ${r.inView} thumbnails in view, ` +
                `${host[0].inView} in the host's first run`);
        }
    }
    const seconds = (runs) => (median(runs.map((r) => r.at)) / 1000).toFixed(3);
    console.log(`median ${seconds(host)} ${seconds(peer)}`);
    console.log(`  medians from navigation start, ${rounds} runs each:`);
    console.log(describe('host ', host));
    console.log(describe('nginx', peer));
}

async function main() {
    const [mode, ...args] = process.argv.slice(2);
    const playwright =
        require(path.join(__dirname, '../tests/browser/node_modules/playwright-core'));
    const browser = await playwright.chromium.launch({
        executablePath: CHROMIUM,
        headless: true,
        args: CHROMIUM_ARGS,
    });
    try {
        if (mode === 'assets' && args.length === 1) {
            const r = await visit(browser, args[0], {settle: true});
            for (const u of r.urls)
                console.log(u);
        } else if (mode === 'measure' && args.length === 3) {
            await measure(browser, Number(args[0]), args[1], args[2]);
        } else {
            throw new Error(
                'usage: gallery-first-screen.js assets URL | measure RUNS HOST_URL NGINX_URL');
        }
    } finally {
        await browser.close().catch(() => {});
    }
}

main().catch((e) => {
    console.error(`gallery-first-screen: ${e.message || e}`);
    process.exit(1);
});
