// Page pieces shared by the console's views: building elements (every text
// set as text, never as markup), the notice line that reports each action,
// the confirmation dialog, the folder picker, the QR dialog, copying, and
// the readable forms of sizes and times.
'use strict';

(function () {
  // el('button', { class: 'x', onclick: f }, 'text', child...)
  function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attrs || {})) {
      if (value === undefined || value === null || value === false) continue;
      if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
      else if (name === 'class') node.className = value;
      else if (name === 'dataset') Object.assign(node.dataset, value);
      else if (name === 'checked' || name === 'value' || name === 'disabled' || name === 'selected') node[name] = value;
      else node.setAttribute(name, value === true ? '' : String(value));
    }
    for (const child of children.flat()) {
      if (child === undefined || child === null || child === false) continue;
      node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
  }

  // Replaces the children of node; absent ones (null, false) are skipped.
  function fill(node, ...children) {
    node.replaceChildren(...children.flat().filter((c) => c !== null && c !== undefined && c !== false));
    return node;
  }

  // Only web addresses become links; anything else stays text.
  function safeHref(url) {
    return /^https?:\/\//i.test(url) ? url : null;
  }

  let noticeTimer = null;
  function notify(ok, message) {
    const box = document.getElementById('notice');
    box.textContent = message;
    box.className = ok ? 'ok' : 'error';
    box.hidden = false;
    box.onclick = () => { box.hidden = true; };
    clearTimeout(noticeTimer);
    if (ok) noticeTimer = setTimeout(() => { box.hidden = true; }, 6000);
  }

  // Runs an action and reports it: its own success text, or the failure.
  async function act(action, success) {
    try {
      const result = await action();
      if (success) notify(true, typeof success === 'function' ? success(result) : success);
      return result;
    } catch (e) {
      if (e instanceof window.OwnerApi.SignedOut) window.OwnerConsole.showSignIn(e.message);
      else notify(false, e.message || String(e));
      return undefined;
    }
  }

  function confirmBox(message, okLabel = 'OK') {
    const dialog = document.getElementById('confirm');
    document.getElementById('confirm-text').textContent = message;
    document.getElementById('confirm-ok').textContent = okLabel;
    dialog.returnValue = '';
    dialog.showModal();
    return new Promise((resolve) => {
      dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok'), { once: true });
    });
  }

  function readableSize(bytes, decimals = 1) {
    let value = Math.max(0, Number(bytes) || 0);
    const units = ['B', 'KB', 'MB', 'GB', 'TB'];
    let unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
      value /= 1024;
      unit++;
    }
    return unit === 0 ? `${value} B` : `${value.toFixed(decimals)} ${units[unit]}`;
  }

  const pad = (n) => String(n).padStart(2, '0');

  // "YYYY-MM-DD HH:MM:SS" in UTC (the shares' expiry) to a Date; null if
  // empty or unreadable.
  function parseUtc(textValue) {
    const m = /^(\d{4})-(\d{2})-(\d{2})[ T](\d{2}):(\d{2})(?::(\d{2}))?$/.exec((textValue || '').trim());
    if (!m) return null;
    return new Date(Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +(m[6] || 0)));
  }

  function localText(date) {
    return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())} ` +
      `${pad(date.getHours())}:${pad(date.getMinutes())}`;
  }

  // The value of a datetime-local input for a stored UTC text.
  function toLocalInput(utcText) {
    const date = parseUtc(utcText);
    return date ? localText(date).replace(' ', 'T') : '';
  }

  // A datetime-local input's value to the stored UTC text ("" for none).
  function fromLocalInput(value) {
    if (!value) return '';
    const date = new Date(value);
    if (Number.isNaN(date.getTime())) return '';
    return `${date.getUTCFullYear()}-${pad(date.getUTCMonth() + 1)}-${pad(date.getUTCDate())} ` +
      `${pad(date.getUTCHours())}:${pad(date.getUTCMinutes())}:${pad(date.getUTCSeconds())}`;
  }

  async function copyText(value) {
    if (navigator.clipboard && window.isSecureContext) {
      await navigator.clipboard.writeText(value);
      return;
    }
    // Plain http on a network address: the old way.
    const area = el('textarea', { class: 'offscreen', readonly: true });
    area.value = value;
    document.body.append(area);
    area.select();
    const done = document.execCommand('copy');
    area.remove();
    if (!done) throw new Error('The browser did not copy the link; select it and copy it by hand.');
  }

  function showQr(link) {
    const qr = window.OwnerQR.encode(link);
    const canvas = document.getElementById('qr-canvas');
    const scale = Math.max(2, Math.floor(288 / (qr.size + 8)));
    window.OwnerQR.draw(canvas, qr, scale);
    document.getElementById('qr-text').textContent = link;
    document.getElementById('qr').showModal();
  }

  // The folder picker: resolves to the chosen path, or null.
  function pickFolder(start) {
    const dialog = document.getElementById('picker');
    const list = document.getElementById('picker-list');
    const where = document.getElementById('picker-path');
    const error = document.getElementById('picker-error');
    let current = null;
    let parent = null;
    const open = async (path) => {
      error.hidden = true;
      try {
        const data = await window.OwnerApi.host('folders', { query: { path } });
        current = data.path;
        parent = data.parent;
        where.textContent = data.path;
        list.replaceChildren(...data.folders.map((f) => el('li', {},
          el('button', { type: 'button', class: 'folder', dataset: { path: f.path }, onclick: () => open(f.path) }, f.name))));
        if (!data.folders.length) list.append(el('li', { class: 'muted' }, 'No sub-folders.'));
        if (data.truncated) list.append(el('li', { class: 'muted' }, 'Only the first folders are listed.'));
        document.getElementById('picker-up').disabled = !parent;
      } catch (e) {
        if (e instanceof window.OwnerApi.SignedOut) {
          dialog.close();
          window.OwnerConsole.showSignIn(e.message);
          return;
        }
        error.textContent = e.message;
        error.hidden = false;
      }
    };
    document.getElementById('picker-up').onclick = () => parent && open(parent);
    dialog.returnValue = '';
    open(start || '');
    dialog.showModal();
    return new Promise((resolve) => {
      dialog.addEventListener('close', () => resolve(dialog.returnValue === 'pick' ? current : null), { once: true });
    });
  }

  window.OwnerUi = {
    el, fill, safeHref, notify, act, confirmBox, readableSize, parseUtc, localText,
    toLocalInput, fromLocalInput, copyText, showQr, pickFolder,
  };
}());
