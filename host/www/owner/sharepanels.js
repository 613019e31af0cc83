// The panels that open below one share: changing its settings
// ("updateshare"), its guest users and public switch ("getusersforshare",
// "addusertoshare", "setuseraccessforshare", "deleteuserfromshare",
// "setallowpublicaccess"), pre-rendering its pictures ("startcaching",
// "getcachestatus", "cancelcaching") and e-mailing its link
// ("geturlforemail", "getprivateurlforemail", "sendsharetoemail").
'use strict';

(function () {
  const { el, fill, act, confirmBox, notify } = window.OwnerUi;
  const { op, text, succeeded } = window.OwnerApi;
  const timers = new WeakMap();

  function close(panel) {
    const timer = timers.get(panel);
    if (timer) clearInterval(timer);
    timers.delete(panel);
    delete panel.dataset.open;
    fill(panel, );
  }

  function selectOf(name, options, value) {
    return el('select', { name }, Object.entries(options).map(([v, label]) =>
      el('option', { value: v, selected: String(value) === v }, label)));
  }

  function edit(share, panel) {
    const name = el('input', { type: 'text', name: 'sharename', value: share.name, required: true });
    const location = el('input', { type: 'text', name: 'sharelocation', value: share.location, required: true });
    const viewMode = selectOf('viewmode', window.OwnerShares.VIEW_MODES, share.viewMode in window.OwnerShares.VIEW_MODES ? share.viewMode : '');
    const more = window.OwnerShares.settingsFields(share);
    const browse = el('button', { type: 'button', class: 'secondary', onclick: async () => {
      const picked = await window.OwnerUi.pickFolder(location.value.trim());
      if (picked) location.value = picked;
    } }, 'Browse…');
    const save = async (event) => {
      event.preventDefault();
      await act(async () => {
        const newName = name.value.trim();
        const newLocation = location.value.trim();
        if (!newName) throw new Error('A share needs a name.');
        const body = {
          shareid: share.id, sharename: newName, sharelocation: newLocation,
          viewmode: viewMode.value, allowpublicaccess: share.access, ...more.read(),
        };
        const result = await op('updateshare', { body });
        if (!window.OwnerShares.sharesOf(result)[0]) {
          throw new Error(await window.OwnerShares.whyRefused(newName, newLocation, share.id));
        }
        close(panel);
        await window.OwnerShares.load();
      }, `Saved the share ${name.value.trim()}.`);
    };
    fill(panel, el('form', { class: 'edit-form', onsubmit: save },
      el('h4', {}, 'Change the share'),
      el('div', { class: 'grid' },
        el('label', {}, 'Name', name),
        el('label', {}, 'View', viewMode)),
      el('div', { class: 'row' }, el('label', { class: 'grow' }, 'Path', location), browse),
      el('div', { class: 'grid' }, more.nodes),
      el('div', { class: 'actions' },
        el('button', { type: 'submit' }, 'Save'),
        el('button', { type: 'button', class: 'secondary', onclick: () => close(panel) }, 'Close'))));
  }

  function usersOf(result) {
    if (!result.xml) return [];
    return Array.from(result.xml.getElementsByTagName('user')).map((u) => ({
      id: Number(text(u, 'userid')), name: text(u, 'username'), write: text(u, 'write') === '1',
    }));
  }

  async function access(share, panel) {
    const ids = { shareid: share.id };
    const [granted, addable] = await Promise.all([
      act(() => op('getusersforshare', { query: ids })),
      act(() => op('getaddusersforshare', { query: ids })),
    ]);
    if (!granted || !addable || panel.dataset.open !== 'access') return;
    const users = usersOf(granted);
    const others = usersOf(addable);
    const reopen = async () => {
      await window.OwnerShares.load();
    };
    const togglePublic = async (event) => {
      const makePublic = event.target.checked;
      if (makePublic) {
        const sure = await confirmBox(`Make ${share.name} public? Anyone with the link can then open it, ` +
          `and its guest list (${users.length} ${users.length === 1 ? 'guest' : 'guests'}) is dropped.`, 'Make public');
        if (!sure) {
          event.target.checked = false;
          return;
        }
      }
      await act(async () => {
        const result = await op('setallowpublicaccess', { query: { shareid: share.id, allowpublicaccess: makePublic ? 1 : 0 } });
        if (!succeeded(result)) throw new Error(`The access of ${share.name} could not be changed.`);
        await reopen();
      }, makePublic ? `${share.name} is public now.` : `${share.name} is open to its guests only now.`);
    };
    const setWrite = async (user, box) => {
      await act(async () => {
        const result = await op('setuseraccessforshare', { query: { shareid: share.id, userid: user.id, write: box.checked ? 1 : 0 } });
        if (!succeeded(result)) {
          box.checked = !box.checked;
          throw new Error(`The access of ${user.name} could not be changed.`);
        }
      }, box.checked ? `${user.name} may now change files in ${share.name}.` : `${user.name} may now only read ${share.name}.`);
    };
    const removeUser = async (user) => {
      await act(async () => {
        const result = await op('deleteuserfromshare', { query: { shareid: share.id, userid: user.id } });
        if (!succeeded(result)) throw new Error(`${user.name} could not be removed from ${share.name}.`);
        await reopen();
      }, `${user.name} can no longer open ${share.name}.`);
    };
    const picker = el('select', { name: 'userid', class: 'add-user' },
      others.map((u) => el('option', { value: String(u.id) }, u.name)));
    const writeToo = el('input', { type: 'checkbox', class: 'add-write' });
    const addUser = async (event) => {
      event.preventDefault();
      const user = others.find((u) => String(u.id) === picker.value);
      if (!user) return notify(false, 'Choose a guest to add.');
      await act(async () => {
        const result = await op('addusertoshare', { query: { shareid: share.id, userid: user.id } });
        if (!succeeded(result)) throw new Error(`${user.name} could not be added to ${share.name}.`);
        if (writeToo.checked) {
          const write = await op('setuseraccessforshare', { query: { shareid: share.id, userid: user.id, write: 1 } });
          if (!succeeded(write)) throw new Error(`${user.name} was added, but may only read.`);
        }
        await reopen();
      }, `${user.name} may now ${writeToo.checked ? 'read and change' : 'read'} ${share.name}.`);
    };
    fill(panel, 
      el('h4', {}, 'Guests and access'),
      el('label', { class: 'switch' },
        el('input', { type: 'checkbox', class: 'public-switch', checked: share.access === 1, onchange: togglePublic }),
        ' Anyone with the link may open this share'),
      share.access === 1 ? el('p', { class: 'muted' }, 'Guests listed here are dropped when the share is made public.') : null,
      users.length ? el('ul', { class: 'plain users' }, users.map((u) => {
        const box = el('input', { type: 'checkbox', class: 'write', checked: u.write });
        box.addEventListener('change', () => setWrite(u, box));
        return el('li', { class: 'user', dataset: { user: u.name } },
          el('span', { class: 'name' }, u.name),
          el('label', { class: 'inline' }, box, ' may change files'),
          el('button', { type: 'button', class: 'danger small remove', onclick: () => removeUser(u) }, 'Remove'));
      })) : el('p', { class: 'muted' }, 'No guest may open this share.'),
      others.length ? el('form', { class: 'row wrap add-guest', onsubmit: addUser },
        el('label', {}, 'Add a guest', picker),
        el('label', { class: 'inline' }, writeToo, ' may change files'),
        el('button', { type: 'submit' }, 'Add'))
        : el('p', { class: 'muted' }, 'Every guest user is on this share already; add more on the Guests page.'),
      el('div', { class: 'actions' }, el('button', { type: 'button', class: 'secondary', onclick: () => close(panel) }, 'Close')));
  }

  function cache(share, panel) {
    const bar = el('progress', { max: '1', value: '0' });
    const line = el('span', { class: 'cache-state' }, '');
    const refresh = async () => {
      try {
        const result = await op('getcachestatus');
        const total = Number(text(result.xml, 'total'));
        const done = Number(text(result.xml, 'completed'));
        bar.max = Math.max(total, 1);
        bar.value = Math.min(done, total);
        line.textContent = total ? `${done} of ${total} pictures ready` : 'No pictures pre-rendered in this run.';
        if (total && done >= total) stopPolling();
      } catch (e) {
        stopPolling();
        line.textContent = e.message;
      }
    };
    const stopPolling = () => {
      const timer = timers.get(panel);
      if (timer) clearInterval(timer);
      timers.delete(panel);
    };
    const startPolling = () => {
      stopPolling();
      timers.set(panel, setInterval(refresh, 1000));
      refresh();
    };
    const start = () => act(async () => {
      const result = await op('startcaching', { query: { sharename: share.name } });
      if (!result.text.trim()) throw new Error('Pictures are being pre-rendered already; cancel that run first.');
      const count = result.xml ? result.xml.getElementsByTagName('image').length : 0;
      if (!count) throw new Error(`There are no pictures to pre-render in ${share.name}.`);
      startPolling();
      return count;
    }, (count) => `Pre-rendering ${count} ${count === 1 ? 'picture' : 'pictures'} of ${share.name}.`);
    const cancel = () => act(async () => {
      // A cancel is not answered; the host reports the silence as 403.
      await op('cancelcaching', { silentOk: [403] });
      stopPolling();
      await refresh();
    }, 'Pre-rendering stopped.');
    fill(panel, 
      el('h4', {}, 'Image cache'),
      el('p', { class: 'muted' }, 'Renders the thumbnails and slides of every picture ahead, so visitors of the gallery do not wait.'),
      el('div', { class: 'progress' }, bar, line),
      el('div', { class: 'actions' },
        el('button', { type: 'button', class: 'start-cache', onclick: start }, 'Start pre-rendering'),
        el('button', { type: 'button', class: 'secondary cancel-cache', onclick: cancel }, 'Cancel'),
        el('button', { type: 'button', class: 'secondary', onclick: () => close(panel) }, 'Close')));
    startPolling();
  }

  function email(share, panel) {
    const link = el('input', { type: 'text', class: 'email-link', readonly: true });
    const which = selectOf('which', { public: 'Public address', local: 'Local network address' }, 'public');
    const from = el('input', { type: 'text', name: 'from', required: true, placeholder: 'letters and spaces' });
    const to = el('input', { type: 'email', name: 'toemailid', required: true });
    const reply = el('input', { type: 'email', name: 'replyto', required: true });
    const message = el('textarea', { name: 'message', rows: '3' });
    const guest = el('select', { name: 'userid' }, el('option', { value: '0' }, 'Any guest'));
    const fetchLink = () => act(async () => {
      const operation = which.value === 'local' ? 'getprivateurlforemail' : 'geturlforemail';
      const result = await op(operation, { query: { sharename: share.name } });
      if (result.xml) throw new Error('The link could not be made.');
      link.value = result.text.trim();
      if (!link.value) throw new Error(`${share.name} has no link (is its path missing?).`);
    });
    which.addEventListener('change', fetchLink);
    fetchLink();
    if (share.access !== 1) {
      op('getusersforshare', { query: { shareid: share.id } }).then((result) => {
        guest.append(...usersOf(result).map((u) => el('option', { value: String(u.id) }, u.name)));
      }).catch((e) => notify(false, e.message));
    }
    const send = async (event) => {
      event.preventDefault();
      await act(async () => {
        if (!link.value) throw new Error('There is no link to send.');
        // The plug-in decodes the message and the link once more than the form does.
        const body = {
          message: encodeURIComponent(message.value), from: from.value.trim(), sharename: share.name,
          toemailid: to.value.trim(), replyto: reply.value.trim(), url: encodeURIComponent(link.value),
          publicshare: share.access === 1 ? 'true' : 'false', userid: guest.value,
        };
        const result = await op('sendsharetoemail', { body });
        const status = result.xml ? text(result.xml, 'status') : '';
        if (status !== '1') {
          const reason = result.xml ? text(result.xml, 'reason') : '';
          throw new Error(reason ? `The mail was not sent: ${reason}` : 'The mail was not sent.');
        }
      }, `Sent the link of ${share.name} to ${to.value.trim()}.`);
    };
    fill(panel, el('form', { class: 'email-form', onsubmit: send },
      el('h4', {}, 'E-mail the link'),
      el('div', { class: 'grid' },
        el('label', {}, 'Address to send', which),
        el('label', { class: 'wide' }, 'Link', link),
        el('label', {}, 'Your name', from),
        el('label', {}, 'To', to),
        el('label', {}, 'Replies to', reply),
        share.access !== 1 ? el('label', {}, 'For the guest', guest) : null),
      el('label', {}, 'Message', message),
      el('p', { class: 'muted' }, 'The mail server is set on the Settings page.'),
      el('div', { class: 'actions' },
        el('button', { type: 'submit' }, 'Send'),
        el('button', { type: 'button', class: 'secondary', onclick: () => close(panel) }, 'Close'))));
  }

  window.OwnerPanels = { close, edit, access, cache, email };
}());
