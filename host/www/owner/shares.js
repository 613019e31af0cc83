// The shares view: the list of shares ("getshares") with their links, copy
// buttons and QR codes, creating a share ("addshare") or a quick share
// ("quickshare") from a typed or picked path, and deleting one
// ("deleteshare"). The panels of one share live in sharepanels.js.
'use strict';

(function () {
  const { el, notify, act, confirmBox, readableSize, parseUtc, localText } = window.OwnerUi;
  const { op, host, text } = window.OwnerApi;

  const VIEW_MODES = { '': 'File list', GALLERY: 'Photo gallery', MUSIC: 'Music player' };
  const state = { shares: [], moreFields: null };

  function readShare(node) {
    return {
      id: Number(text(node, 'shareid')),
      name: text(node, 'sharename'),
      valid: text(node, 'isvalid') === '1',
      isDir: text(node, 'isdir') === '1',
      location: text(node, 'sharelocation'),
      viewMode: text(node, 'viewmode'),
      validity: text(node, 'validityperiod'),
      url: text(node, 'shareurl'),
      page: text(node, 'oldshareurl'),
      access: Number(text(node, 'allowpublicaccess')),
      sizeLimit: Number(text(node, 'sharesizelimit')),
      viewSize: Number(text(node, 'viewsize')),
      thumbSize: Number(text(node, 'thumbsize')),
    };
  }

  function sharesOf(result) {
    return result.xml ? Array.from(result.xml.getElementsByTagName('share')).map(readShare) : [];
  }

  function viewModeName(mode) {
    return VIEW_MODES[mode] !== undefined ? VIEW_MODES[mode] : VIEW_MODES[''];
  }

  function select(name, options, value) {
    return el('select', { name }, Object.entries(options).map(([v, label]) =>
      el('option', { value: v, selected: String(value) === v }, label)));
  }

  // Expiry, upload limit and picture sizes, for a new share or a change.
  // read() gives the form values of "addshare" / "updateshare".
  function settingsFields(share) {
    const s = share || { validity: '', sizeLimit: 0, viewSize: 0, thumbSize: 1 };
    const expiry = el('input', { type: 'datetime-local', name: 'validityperiod', value: window.OwnerUi.toLocalInput(s.validity) });
    const limit = el('input', {
      type: 'number', name: 'sharesizelimit', min: '0', step: 'any', inputmode: 'decimal',
      value: s.sizeLimit ? String(Math.round((s.sizeLimit / 1024) * 100) / 100) : '',
      placeholder: 'no limit',
    });
    const viewSize = select('viewsize', { 0: 'Normal (800 × 600)', 1: 'Large (1024 × 768)' }, s.viewSize === 1 ? 1 : 0);
    const thumbSize = select('thumbsize', { 0: 'Small (64 px)', 1: 'Medium (128 px)', 2: 'Large (256 px)' },
      s.thumbSize === 0 || s.thumbSize === 2 ? s.thumbSize : 1);
    const nodes = [
      el('label', {}, 'Expires (empty: never)', expiry),
      el('label', {}, 'Upload limit of the folder in MB', limit),
      el('label', {}, 'Gallery pictures', viewSize),
      el('label', {}, 'Thumbnails', thumbSize),
    ];
    const read = () => {
      const mb = Number(limit.value || 0);
      if (!Number.isFinite(mb) || mb < 0) throw new Error('The upload limit is a size in MB, 0 or more.');
      return {
        validityperiod: window.OwnerUi.fromLocalInput(expiry.value),
        sharesizelimit: Math.round(mb * 1024),
        viewsize: viewSize.value,
        thumbsize: thumbSize.value,
      };
    };
    return { nodes, read };
  }

  // Why a share could not be stored, as far as the console can tell.
  async function whyRefused(name, location, exceptId) {
    const others = state.shares.filter((s) => s.id !== exceptId);
    const sameName = name ? others.find((s) => s.name === name) : null;
    if (sameName) return `There is already a share named ${name}.`;
    try {
      const size = await host('foldersize', { query: { path: location } });
      const taken = others.find((s) => s.location === size.path);
      if (taken) return `This path is shared already as ${taken.name}.`;
    } catch (e) {
      return e.message;
    }
    return 'The plug-in refused the share.';
  }

  async function load() {
    const result = await op('getshares');
    state.shares = sharesOf(result);
    render();
    window.OwnerHistory.setShares(state.shares);
    return state.shares;
  }

  function linkLine(label, link, cls) {
    if (!link) return el('p', { class: 'muted' }, `${label}: none (the path is missing)`);
    const href = window.OwnerUi.safeHref(link);
    return el('div', { class: 'link' },
      el('span', { class: 'label' }, label),
      href ? el('a', { class: cls, href, target: '_blank', rel: 'noopener' }, link) : el('span', { class: cls }, link),
      el('button', { type: 'button', class: 'secondary small copy', onclick: () => act(() => window.OwnerUi.copyText(link), 'Copied the link.') }, 'Copy'),
      el('button', { type: 'button', class: 'secondary small qr', onclick: () => act(() => window.OwnerUi.showQr(link)) }, 'QR code'));
  }

  function badges(share) {
    const list = [];
    if (!share.valid) list.push(el('span', { class: 'badge bad' }, 'Path missing'));
    else list.push(el('span', { class: 'badge' }, share.isDir ? 'Folder' : 'File'));
    list.push(el('span', { class: share.access === 1 ? 'badge public' : 'badge' }, share.access === 1 ? 'Public' : 'Guests only'));
    const expiry = parseUtc(share.validity);
    if (expiry && expiry < new Date()) list.push(el('span', { class: 'badge bad' }, 'Expired'));
    return list;
  }

  function details(share) {
    const expiry = parseUtc(share.validity);
    const sizeCell = el('dd', { class: 'size' }, share.sizeLimit ? `${readableSize(share.sizeLimit * 1024)} limit` : 'No limit');
    if (share.sizeLimit && share.valid) {
      measure(share, sizeCell);
    } else if (share.valid && share.isDir) {
      // Folders without a limit are measured on request: a big one takes a while.
      sizeCell.append(' ', el('button', { type: 'button', class: 'secondary small measure', onclick: () => measure(share, sizeCell) }, 'Measure folder'));
    }
    return el('dl', { class: 'facts' },
      el('dt', {}, 'Path'), el('dd', { class: 'location' }, share.location),
      el('dt', {}, 'View'), el('dd', {}, share.isDir ? viewModeName(share.viewMode) : 'Single file'),
      el('dt', {}, 'Expires'), el('dd', {}, expiry ? localText(expiry) : 'Never'),
      el('dt', {}, 'Uploads'), sizeCell);
  }

  // The folder's size beside its limit.
  async function measure(share, cell) {
    try {
      const size = await host('foldersize', { query: { path: share.location } });
      cell.textContent = share.sizeLimit
        ? `${readableSize(size.bytes)} used of ${readableSize(share.sizeLimit * 1024)}`
        : `${readableSize(size.bytes)} used, no limit`;
    } catch (e) {
      cell.textContent = `${cell.textContent} (size unknown: ${e.message})`;
    }
  }

  function card(share) {
    const panel = el('div', { class: 'panel' });
    const open = (which) => {
      const same = panel.dataset.open === which;
      window.OwnerPanels.close(panel);
      if (same) return;
      panel.dataset.open = which;
      window.OwnerPanels[which](share, panel);
    };
    const node = el('article', { class: 'card share', dataset: { shareName: share.name, shareId: String(share.id) } },
      el('header', {}, el('h3', {}, share.name || '(no name)'), ...badges(share)),
      details(share),
      linkLine('Link', share.url, 'share-link'),
      linkLine('Share page', share.page, 'share-page'),
      el('div', { class: 'actions' },
        el('button', { type: 'button', class: 'secondary edit', onclick: () => open('edit') }, 'Edit'),
        el('button', { type: 'button', class: 'secondary access', onclick: () => open('access') }, 'Guests and access'),
        share.isDir ? el('button', { type: 'button', class: 'secondary cache', onclick: () => open('cache') }, 'Image cache') : null,
        el('button', { type: 'button', class: 'secondary email', onclick: () => open('email') }, 'E-mail link'),
        el('button', { type: 'button', class: 'danger delete', onclick: () => remove(share) }, 'Delete')),
      panel);
    return node;
  }

  function render() {
    const list = document.getElementById('share-list');
    // Keep the open panel of a share across a reload of the list.
    const open = {};
    list.querySelectorAll('article.share').forEach((a) => {
      const p = a.querySelector('.panel');
      if (p.dataset.open) open[a.dataset.shareId] = p.dataset.open;
      window.OwnerPanels.close(p);
    });
    list.replaceChildren(...state.shares.map(card));
    document.getElementById('shares-empty').hidden = state.shares.length > 0;
    list.querySelectorAll('article.share').forEach((a) => {
      const which = open[a.dataset.shareId];
      const share = state.shares.find((s) => String(s.id) === a.dataset.shareId);
      if (which && share) {
        const p = a.querySelector('.panel');
        p.dataset.open = which;
        window.OwnerPanels[which](share, p);
      }
    });
  }

  async function remove(share) {
    const sure = await confirmBox(`Delete the share ${share.name}? Its link stops working; the files stay where they are.`, 'Delete');
    if (!sure) return;
    await act(async () => {
      const result = await op('deleteshare', { query: { shareid: share.id } });
      if (!window.OwnerApi.succeeded(result)) throw new Error(`The share ${share.name} could not be deleted.`);
      await load();
    }, `Deleted the share ${share.name}.`);
  }

  async function create(event) {
    event.preventDefault();
    const location = document.getElementById('new-location').value.trim();
    let name = document.getElementById('new-name').value.trim();
    if (!name) name = location.replace(/\/+$/, '').split('/').pop() || '';
    await act(async () => {
      if (!location) throw new Error('Type or pick the path to share.');
      if (!name) throw new Error('Give the share a name.');
      const body = {
        sharelocation: location,
        sharename: name,
        viewmode: document.getElementById('new-viewmode').value,
        allowpublicaccess: document.getElementById('new-access').value,
        ...state.moreFields.read(),
      };
      const result = await op('addshare', { body });
      const created = sharesOf(result)[0];
      if (!created) throw new Error(await whyRefused(name, location, -1));
      document.getElementById('new-share').reset();
      await load();
      return created;
    }, (created) => `Shared ${created.location} as ${created.name}.`);
  }

  async function quickShare() {
    const location = document.getElementById('new-location').value.trim();
    await act(async () => {
      if (!location) throw new Error('Type or pick the path to share.');
      // The plug-in decodes the location once more than the form does.
      const result = await op('quickshare', {
        body: { sharelocation: encodeURIComponent(location), viewmode: document.getElementById('new-viewmode').value },
      });
      const share = sharesOf(result)[0];
      if (!share) throw new Error(await whyRefused('', location, -1));
      const duplicate = result.xml && text(result.xml, 'duplicate') === '1';
      document.getElementById('new-share').reset();
      await load();
      return duplicate ? `This path is shared already as ${share.name}.` : `Shared ${share.location} as ${share.name}.`;
    }, (message) => message);
  }

  function init() {
    state.moreFields = settingsFields(null);
    document.getElementById('new-more').replaceChildren(...state.moreFields.nodes);
    document.getElementById('new-share').addEventListener('submit', create);
    document.getElementById('quick-share').addEventListener('click', quickShare);
    document.getElementById('browse').addEventListener('click', async () => {
      const input = document.getElementById('new-location');
      const picked = await window.OwnerUi.pickFolder(input.value.trim());
      if (picked) input.value = picked;
    });
  }

  window.OwnerShares = { init, load, settingsFields, whyRefused, sharesOf, viewModeName, state, VIEW_MODES };
}());
