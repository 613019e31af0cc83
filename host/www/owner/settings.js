// The settings view: the share pages' custom header ("getcustomheader",
// "setcustomheader"), the guest-shares switch ("showgs", "setshowgs"), the
// profile's mail server (host endpoint mail) and the plug-in's version
// ("getstatus").
'use strict';

(function () {
  const { act } = window.OwnerUi;
  const { op, host, text, succeeded } = window.OwnerApi;
  const STANDARD = 'DEFAULT_IMAGE';

  function showHeader(value) {
    const standard = value === STANDARD || value === '';
    document.getElementById('header-default').checked = standard;
    const input = document.getElementById('header-text');
    input.value = standard ? '' : value;
    input.disabled = standard;
  }

  function showMail(mail) {
    document.getElementById('mail-host').value = mail.host;
    document.getElementById('mail-port').value = mail.port;
    document.getElementById('mail-user').value = mail.user;
    document.getElementById('mail-from').value = mail.from;
    document.getElementById('mail-starttls').checked = mail.starttls;
    document.getElementById('mail-password').value = '';
    document.getElementById('mail-forget').checked = false;
    document.getElementById('mail-password-state').textContent = mail.passwordSet
      ? 'A password is saved; leave the field empty to keep it.' : 'No password is saved.';
  }

  async function load() {
    const [header, shown, mail, status] = await Promise.all([
      op('getcustomheader'), op('showgs'), host('mail'), op('getstatus'),
    ]);
    showHeader(text(header.xml, 'customheader'));
    document.getElementById('gs-show').checked = succeeded(shown);
    showMail(mail);
    document.getElementById('plugin-version').textContent = `Share plug-in version ${text(status.xml, 'version')}`;
  }

  async function saveHeader(event) {
    event.preventDefault();
    const standard = document.getElementById('header-default').checked;
    const value = standard ? STANDARD : document.getElementById('header-text').value.trim();
    await act(async () => {
      if (!value) throw new Error('Type the header text, or choose the standard header.');
      const result = await op('setcustomheader', { query: { customheader: value } });
      if (!succeeded(result)) throw new Error('The header could not be saved.');
      showHeader(text((await op('getcustomheader')).xml, 'customheader'));
    }, standard ? 'The share pages show the standard header.' : 'Saved the custom header.');
  }

  async function saveShowGs(event) {
    event.preventDefault();
    const show = document.getElementById('gs-show').checked;
    await act(async () => {
      const result = await op('setshowgs', { query: { show: show ? 1 : 0 } });
      if (!succeeded(result)) throw new Error('The guest-shares switch could not be saved.');
    }, show ? 'Guests see their shares.' : 'Guests no longer see a list of their shares.');
  }

  async function saveMail(event) {
    event.preventDefault();
    const body = {
      host: document.getElementById('mail-host').value,
      port: document.getElementById('mail-port').value,
      user: document.getElementById('mail-user').value,
      from: document.getElementById('mail-from').value,
      starttls: document.getElementById('mail-starttls').checked ? '1' : '0',
    };
    const password = document.getElementById('mail-password').value;
    if (document.getElementById('mail-forget').checked) body.password = '';
    else if (password) body.password = password;
    await act(async () => showMail(await host('mail', { body })), 'Saved the mail settings.');
  }

  function init() {
    document.getElementById('header-default').addEventListener('change', (e) => {
      document.getElementById('header-text').disabled = e.target.checked;
    });
    document.getElementById('header-form').addEventListener('submit', saveHeader);
    document.getElementById('gs-form').addEventListener('submit', saveShowGs);
    document.getElementById('mail-form').addEventListener('submit', saveMail);
  }

  window.OwnerSettings = { init, load };
}());
