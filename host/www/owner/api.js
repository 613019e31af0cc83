// Requests of the owner console: the plug-in's owner operations below
// /app/dapplinepro/ (XML answers) and the host's owner endpoints below
// /ui/owner/api/ (JSON answers). The session cookie rides along; every
// failure becomes an Error whose message the page shows.
'use strict';

(function () {
  const PLUGIN = '/app/dapplinepro/';
  const HOST_API = '/ui/owner/api/';

  class SignedOut extends Error {}

  function form(params) {
    const body = new URLSearchParams();
    for (const [name, value] of Object.entries(params || {})) {
      if (value !== undefined && value !== null) body.append(name, String(value));
    }
    return body.toString();
  }

  function parseXml(text, operation) {
    const doc = new DOMParser().parseFromString(text, 'application/xml');
    if (doc.getElementsByTagName('parsererror').length) {
      throw new Error(`The answer of ${operation} could not be read.`);
    }
    return doc;
  }

  function refusedByGate(doc) {
    const root = doc.documentElement;
    if (!root || root.nodeName !== 'result') return null;
    const operation = text(root, 'operation');
    if (operation === 'Authentication Failed') return new SignedOut('Sign in again with the owner token.');
    if (operation === 'Profile Unavailable') return new Error(text(root, 'message') || 'The host has no profile loaded.');
    return null;
  }

  // The text of the first element of that name below node ("" if none).
  function text(node, name) {
    const found = node.getElementsByTagName(name)[0];
    return found ? found.textContent : '';
  }

  async function send(url, options) {
    let response;
    try {
      response = await fetch(url, { credentials: 'same-origin', cache: 'no-store', ...options });
    } catch (e) {
      throw new Error('The host cannot be reached.');
    }
    return response;
  }

  // The options of a form posted with fetch.
  function formPost(params) {
    return {
      method: 'POST',
      headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      body: form(params),
    };
  }

  // GET of path with the query, or, with a body, POST of it as a form.
  function request(path, query, body) {
    const q = form(query);
    return send(path + (q ? '?' + q : ''), body === undefined ? { method: 'GET' } : formPost(body));
  }

  // A plug-in operation. query: object for the query string; body: object
  // posted as a form. Resolves to { status, text, xml } where xml is a
  // Document, or null when the answer is not XML (plain-text links) or
  // empty. options.silentOk: statuses that mean "done, nothing to say".
  async function op(name, { query, body, silentOk = [] } = {}) {
    const response = await request(PLUGIN + name, query, body);
    const textBody = await response.text();
    if (silentOk.includes(response.status)) return { status: response.status, text: '', xml: null };
    if (response.status === 401) throw new SignedOut('Sign in again with the owner token.');
    if (response.status !== 200) throw new Error(`${name} failed: HTTP ${response.status}.`);
    let xml = null;
    if (textBody.trim().startsWith('<')) {
      xml = parseXml(textBody, name);
      const refused = refusedByGate(xml);
      if (refused) throw refused;
    }
    return { status: response.status, text: textBody, xml };
  }

  // The success flag of a host result document.
  function succeeded(result) {
    return !!result.xml && text(result.xml, 'success') === '1';
  }

  // A host endpoint: GET with query, or POST with a form body. Resolves to
  // the parsed JSON; a failure throws with the host's sentence.
  async function host(endpoint, { query, body } = {}) {
    const response = await request(HOST_API + endpoint, query, body);
    let data = null;
    try {
      data = await response.json();
    } catch (e) {
      data = null;
    }
    if (response.status === 401) throw new SignedOut((data && data.error) || 'Sign in with the owner token.');
    if (!response.ok) throw new Error((data && data.error) || `The host answered HTTP ${response.status}.`);
    return data;
  }

  async function signIn(token) {
    const response = await send('/ui/owner/login', {
      ...formPost({ token, next: '/ui/owner/' }),
      redirect: 'manual',
    });
    // A sign-in is answered with a redirect; a refusal with a page.
    if (response.type === 'opaqueredirect' || response.status === 303) return;
    if (response.status === 403) throw new Error('Wrong owner token.');
    if (response.status === 429) throw new Error('Too many failed sign-ins. Try again in a few minutes.');
    throw new Error(`The sign-in failed: HTTP ${response.status}.`);
  }

  async function signOut() {
    await send('/ui/owner/logout', { ...formPost({ next: '/ui/owner/' }), redirect: 'manual' });
  }

  // Asked of the plug-in, whose owner gate answers a stranger with a
  // result document rather than an error status, so that a signed-out
  // start leaves no failed request in the browser's console.
  async function signedIn() {
    try {
      await op('getstatus');
      return true;
    } catch (e) {
      if (e instanceof SignedOut) return false;
      throw e;
    }
  }

  window.OwnerApi = { op, host, succeeded, text, signIn, signOut, signedIn, SignedOut };
}());
