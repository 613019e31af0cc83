// The history view ("gethistory", "clearhistory"): pages of downloads and
// uploads, filtered by share and kind, newest first; and the transfers in
// progress ("getdownloadlist"), read again every few seconds while shown.
'use strict';

(function () {
  const { el, act, confirmBox, readableSize } = window.OwnerUi;
  const { op, text, succeeded } = window.OwnerApi;
  const PAGE = 20;
  const TRANSFER_REFRESH_MS = 3000;
  const state = { offset: 0, total: 0, names: {}, transferTimer: null };

  function setShares(shares) {
    const chosen = document.getElementById('history-share');
    const value = chosen.value;
    state.names = {};
    shares.forEach((s) => { state.names[s.id] = s.name; });
    chosen.replaceChildren(el('option', { value: '-1' }, 'All shares'),
      ...shares.map((s) => el('option', { value: String(s.id) }, s.name)));
    chosen.value = shares.some((s) => String(s.id) === value) ? value : '-1';
  }

  function rowOf(node) {
    const shareId = text(node, 'shareid');
    const user = text(node, 'username');
    return el('tr', {},
      el('td', { class: 'nowrap' }, text(node, 'date')),
      el('td', {}, state.names[shareId] || `share ${shareId}`),
      el('td', { class: 'location' }, text(node, 'sharelocation')),
      el('td', { class: 'nowrap' }, text(node, 'filesize')),
      el('td', {}, user || (text(node, 'userid') === '-1' ? 'anonymous' : '')));
  }

  async function load() {
    const result = await op('gethistory', {
      query: {
        offset: state.offset, max: PAGE,
        shareid: document.getElementById('history-share').value,
        filter: document.getElementById('history-kind').value,
      },
    });
    const rows = result.xml ? Array.from(result.xml.getElementsByTagName('history')) : [];
    state.total = Number(result.xml ? text(result.xml, 'totalrecords') : 0) || 0;
    if (!rows.length && state.offset > 0 && state.offset >= state.total) {
      state.offset = Math.max(0, Math.floor((state.total - 1) / PAGE) * PAGE);
      if (state.total) return load();
    }
    document.querySelector('#history-table tbody').replaceChildren(...rows.map(rowOf));
    document.getElementById('history-empty').hidden = rows.length > 0;
    const pages = Math.max(1, Math.ceil(state.total / PAGE));
    const page = Math.floor(state.offset / PAGE) + 1;
    document.getElementById('history-page').textContent = `Page ${page} of ${pages} (${state.total} ${state.total === 1 ? 'transfer' : 'transfers'})`;
    document.getElementById('history-prev').disabled = state.offset === 0;
    document.getElementById('history-next').disabled = state.offset + PAGE >= state.total;
  }

  async function clear() {
    const sure = await confirmBox('Clear the whole history of downloads and uploads? This cannot be undone.', 'Clear');
    if (!sure) return;
    await act(async () => {
      const result = await op('clearhistory');
      if (!succeeded(result)) throw new Error('The history could not be cleared.');
      state.offset = 0;
      await load();
    }, 'Cleared the history.');
  }

  async function loadTransfers() {
    const result = await op('getdownloadlist');
    const rows = result.xml ? Array.from(result.xml.getElementsByTagName('download')) : [];
    document.querySelector('#transfer-table tbody').replaceChildren(...rows.map((d) => el('tr', {},
      el('td', { class: 'location' }, text(d, 'filename')),
      el('td', {}, text(d, 'user') || 'anonymous'),
      el('td', { class: 'nowrap' }, readableSize(text(d, 'filesize'))))));
    document.getElementById('transfers-empty').hidden = rows.length > 0;
    document.getElementById('transfers-updated').textContent = `Updated at ${new Date().toLocaleTimeString()}; refreshed every few seconds.`;
  }

  function watchTransfers(on) {
    clearInterval(state.transferTimer);
    state.transferTimer = null;
    if (!on) return;
    const tick = () => act(loadTransfers).then(() => {});
    tick();
    state.transferTimer = setInterval(tick, TRANSFER_REFRESH_MS);
  }

  function init() {
    const reload = () => { state.offset = 0; act(load); };
    document.getElementById('history-share').addEventListener('change', reload);
    document.getElementById('history-kind').addEventListener('change', reload);
    document.getElementById('history-refresh').addEventListener('click', () => act(load, 'History read again.'));
    document.getElementById('history-clear').addEventListener('click', clear);
    document.getElementById('history-prev').addEventListener('click', () => { state.offset = Math.max(0, state.offset - PAGE); act(load); });
    document.getElementById('history-next').addEventListener('click', () => { state.offset += PAGE; act(load); });
  }

  window.OwnerHistory = { init, load, setShares, watchTransfers };
}());
