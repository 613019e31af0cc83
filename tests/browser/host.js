// A real orvane-host for the browser suite: a temporary profile, a free
// loopback port, one quick-shared folder, and owner calls with the profile's
// token. Every wait is a bounded poll.
'use strict';

const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const net = require('net');
const path = require('path');

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Resolves once test() returns a truthy value; rejects after timeoutMs.
async function poll(what, test, timeoutMs = 30000, intervalMs = 50) {
  const deadline = Date.now() + timeoutMs;
  let lastError = null;
  for (;;) {
    try {
      const value = await test();
      if (value) return value;
    } catch (e) {
      lastError = e;
    }
    if (Date.now() > deadline) {
      throw new Error(`timed out waiting for ${what}` + (lastError ? `: ${lastError.message}` : ''));
    }
    await new Promise((r) => setTimeout(r, intervalMs));
  }
}

class Host {
  constructor(executable, root) {
    this.executable = executable;
    this.profile = path.join(root, 'profile');
    this.output = '';
    this.child = null;
  }

  // Runs a one-off command of the program (guest add ...) on the profile.
  command(args) {
    const r = spawnSync(this.executable, [...args, '--profile', this.profile], {
      encoding: 'utf8',
      timeout: 30000,
    });
    if (r.status !== 0) {
      throw new Error(`orvane-host ${args.join(' ')} failed (${r.status}): ${r.stderr}${r.stdout}`);
    }
    return r.stdout;
  }

  addGuest(name, password) {
    const out = this.command(['guest', 'add', name, '--password', password]);
    const m = out.match(/\(id (\d+)\)/);
    if (!m) throw new Error(`no guest id in: ${out}`);
    return Number(m[1]);
  }

  // extraArgs: further flags of `serve` (--tls-self-signed, ...).
  async start(sharePath, extraArgs = []) {
    this.port = await freePort();
    this.base = `http://127.0.0.1:${this.port}`;
    this.child = spawn(this.executable,
      ['serve', '--profile', this.profile, '--port', String(this.port), '--share', sharePath,
        ...extraArgs],
      { stdio: ['ignore', 'pipe', 'pipe'] });
    this.child.stdout.on('data', (d) => { this.output += d; });
    this.child.stderr.on('data', (d) => { this.output += d; });
    this.exited = new Promise((resolve) => this.child.once('exit', (code, signal) => {
      this.child = null;
      resolve({ code, signal });
    }));
    const address = await poll('the share page address', () => {
      if (!this.child) throw new Error(`orvane-host exited:\n${this.output}`);
      const m = this.output.match(/Share page: (\S+)/);
      return m && m[1];
    }, 30000);
    this.sharePage = address.startsWith('/') ? this.base + address : address;
    this.base = new URL(this.sharePage).origin;
    this.token = fs.readFileSync(path.join(this.profile, 'owner.token'), 'utf8').trim();
    return this.sharePage;
  }

  // An owner operation: GET with a query, or POST with a form body.
  async owner(operation, { query = '', body = null } = {}) {
    const url = `${this.base}/app/dapplinepro/${operation}${query ? '?' + query : ''}`;
    const response = await fetch(url, {
      method: body === null ? 'GET' : 'POST',
      headers: {
        Authorization: `Bearer ${this.token}`,
        'Content-Type': 'application/x-www-form-urlencoded',
      },
      body: body === null ? undefined : body,
    });
    const text = await response.text();
    if (response.status !== 200) throw new Error(`${operation}: HTTP ${response.status} ${text}`);
    return text;
  }

  // A share of location under name; its id.
  async addShare(name, location, { isPublic = false, viewmode = '' } = {}) {
    const form = new URLSearchParams({
      sharelocation: location, sharename: name, viewmode, allowpublicaccess: isPublic ? '1' : '0',
    });
    const xml = await this.owner('addshare', { body: form.toString() });
    const id = (xml.match(/<shareid>(\d+)<\/shareid>/) || [])[1];
    if (!id) throw new Error(`addshare ${name} answered ${xml}`);
    return id;
  }

  sharePageOf(name) {
    return `${this.base}/app/dapplinepro/share/${encodeURIComponent(name)}/`;
  }

  // A share open only to listed guests, the guest allowed to write in it.
  async privateShare(name, location, guestId) {
    const id = await this.addShare(name, location);
    const ids = `shareid=${id}&userid=${guestId}`;
    const added = await this.owner('addusertoshare', { query: ids });
    if (!added.includes('<success>1</success>')) throw new Error(`addusertoshare: ${added}`);
    const write = await this.owner('setuseraccessforshare', { query: `${ids}&write=1` });
    if (!write.includes('<success>1</success>')) throw new Error(`setuseraccessforshare: ${write}`);
    return this.sharePageOf(name);
  }

  async stop() {
    if (!this.child) return this.exited;
    this.child.kill('SIGTERM');
    const timer = setTimeout(() => this.child && this.child.kill('SIGKILL'), 15000);
    const result = await this.exited;
    clearTimeout(timer);
    return result;
  }
}

module.exports = { Host, poll };
