// The guests view: the host's guest users (host endpoints guests,
// guests/add, guests/password, guests/remove). A generated password is
// shown once, in the guest's row, to hand on.
'use strict';

(function () {
  const { el, act, confirmBox } = window.OwnerUi;
  const { host } = window.OwnerApi;
  const shown = {};  // name -> a password just generated

  async function load() {
    const data = await host('guests');
    render(data.guests);
    return data.guests;
  }

  function passwordNote(name) {
    return shown[name] ? el('p', { class: 'password' }, 'Password: ', el('code', {}, shown[name]),
      ' (shown only now; hand it on to the guest)') : null;
  }

  function row(guest) {
    const typed = el('input', { type: 'text', class: 'new-password', placeholder: 'new password, or empty to generate', autocomplete: 'new-password' });
    const change = async (event) => {
      event.preventDefault();
      await act(async () => {
        const data = await host('guests/password', { body: { name: guest.name, password: typed.value } });
        if (data.password) shown[guest.name] = data.password;
        else delete shown[guest.name];
        await load();
      }, `Changed the password of ${guest.name}; its sign-ins have ended.`);
    };
    const remove = async () => {
      const sure = await confirmBox(`Remove the guest ${guest.name}? It can no longer open any share.`, 'Remove');
      if (!sure) return;
      await act(async () => {
        await host('guests/remove', { body: { name: guest.name } });
        delete shown[guest.name];
        await load();
      }, `Removed the guest ${guest.name}.`);
    };
    return el('li', { class: 'card guest', dataset: { guest: guest.name } },
      el('div', { class: 'row wrap' },
        el('strong', { class: 'name' }, guest.name),
        el('span', { class: 'muted' }, `id ${guest.id}`)),
      passwordNote(guest.name),
      el('form', { class: 'row wrap', onsubmit: change },
        typed,
        el('button', { type: 'submit', class: 'secondary' }, 'Set password'),
        el('button', { type: 'button', class: 'danger remove', onclick: remove }, 'Remove')));
  }

  function render(guests) {
    document.getElementById('guest-list').replaceChildren(...guests.map(row));
    document.getElementById('guests-empty').hidden = guests.length > 0;
  }

  async function add(event) {
    event.preventDefault();
    const name = document.getElementById('guest-name').value;
    const password = document.getElementById('guest-password').value;
    await act(async () => {
      if (!name.trim()) throw new Error('Give the guest a name.');
      const data = await host('guests/add', { body: { name, password } });
      if (data.password) shown[data.name] = data.password;
      document.getElementById('new-guest').reset();
      await load();
      return data;
    }, (data) => `Added the guest ${data.name}.`);
  }

  function init() {
    document.getElementById('new-guest').addEventListener('submit', add);
  }

  window.OwnerGuests = { init, load };
}());
