// The owner console's start: the sign-in with the owner token (the host
// sets the HttpOnly session cookie), the tabs of the views (the address's
// "#name" picks one, so a reload stays where it was) and the sign-out.
'use strict';

(function () {
  const { act, notify } = window.OwnerUi;
  const VIEWS = {
    shares: () => window.OwnerShares.load(),
    guests: () => window.OwnerGuests.load(),
    history: async () => {
      await window.OwnerShares.load();
      await window.OwnerHistory.load();
    },
    transfers: async () => {},
    settings: () => window.OwnerSettings.load(),
  };

  function currentTab() {
    const name = location.hash.replace(/^#/, '');
    return Object.prototype.hasOwnProperty.call(VIEWS, name) ? name : 'shares';
  }

  async function show(name) {
    document.getElementById('signin').hidden = true;
    document.getElementById('tabs').hidden = false;
    for (const view of Object.keys(VIEWS)) {
      document.getElementById(`view-${view}`).hidden = view !== name;
    }
    document.querySelectorAll('#tabs .tab[data-tab]').forEach((b) => {
      b.classList.toggle('current', b.dataset.tab === name);
      if (b.dataset.tab === name) b.setAttribute('aria-current', 'page');
      else b.removeAttribute('aria-current');
    });
    window.OwnerHistory.watchTransfers(name === 'transfers');
    await act(VIEWS[name]);
  }

  function showSignIn(message) {
    window.OwnerHistory.watchTransfers(false);
    document.getElementById('tabs').hidden = true;
    for (const view of Object.keys(VIEWS)) document.getElementById(`view-${view}`).hidden = true;
    document.getElementById('signin').hidden = false;
    document.getElementById('token').focus();
    if (message) notify(false, message);
  }

  async function signIn(event) {
    event.preventDefault();
    const input = document.getElementById('token');
    await act(async () => {
      await window.OwnerApi.signIn(input.value.trim());
      input.value = '';
      await show(currentTab());
    }, 'Signed in.');
  }

  async function signOut() {
    await act(async () => {
      await window.OwnerApi.signOut();
      showSignIn();
    }, 'Signed out.');
  }

  async function start() {
    window.OwnerShares.init();
    window.OwnerGuests.init();
    window.OwnerHistory.init();
    window.OwnerSettings.init();
    document.getElementById('signin-form').addEventListener('submit', signIn);
    document.getElementById('signout').addEventListener('click', signOut);
    document.querySelectorAll('#tabs .tab[data-tab]').forEach((b) => {
      b.addEventListener('click', () => {
        if (location.hash === `#${b.dataset.tab}`) show(b.dataset.tab);
        else location.hash = b.dataset.tab;
      });
    });
    window.addEventListener('hashchange', () => {
      if (!document.getElementById('tabs').hidden) show(currentTab());
    });
    const signedIn = await act(() => window.OwnerApi.signedIn());
    if (signedIn) await show(currentTab());
    else showSignIn();
  }

  window.OwnerConsole = { showSignIn, show };
  document.addEventListener('DOMContentLoaded', start);
}());
