// The guest pages. "/#guest" (the address of a share that asks for a guest)
// leads to the sign-in at /ui/guest/. There, a signed-in guest sees his
// shares and browses them in the explorer; a visitor the host does not know
// gets the sign-in form. The sign-in cookie is not readable here, so the
// share list itself tells the two apart.
"use strict";

(function () {
  if (location.pathname === "/") {
    var toSignIn = function () {
      if (location.hash === "#guest") location.replace("/ui/guest/");
    };
    window.addEventListener("hashchange", toSignIn);
    toSignIn();
    return;
  }
  var area = document.getElementById("explorer");
  if (!area || !window.ExplorerView) return;

  var NAME_KEY = "orvane-guest-name";
  var signinArea = document.getElementById("signin-area");
  var form = document.getElementById("signin");
  var checking = document.getElementById("checking");
  var signedIn = document.getElementById("signedin");
  var title = document.getElementById("title");
  var page = document.getElementById("page");

  function remember(key, value) {
    try {
      if (value === null) sessionStorage.removeItem(key);
      else sessionStorage.setItem(key, value);
    } catch (e) {
      // Without storage the page only lacks the "Signed in as" line.
    }
  }

  function recalled(key) {
    try {
      return sessionStorage.getItem(key);
    } catch (e) {
      return null;
    }
  }

  function showSignIn() {
    signedIn.hidden = true;
    page.classList.remove("wide");
    signinArea.hidden = false;
    form.hidden = false;
    checking.hidden = true;
    document.title = "Guest sign-in - Orvane";
  }

  function showExplorer() {
    if (!signedIn.hidden) return;
    signinArea.hidden = true;
    page.classList.add("wide");
    signedIn.hidden = false;
    var name = recalled(NAME_KEY);
    document.getElementById("who").textContent = name ? "Signed in as " + name : "";
  }

  // Back where the visitor wanted to go once signed in.
  form.addEventListener("submit", function () {
    remember(NAME_KEY, document.getElementById("guest-name").value.trim());
    if (/^#expl-(tabl|grid)\./.test(location.hash)) {
      document.getElementById("next").value = location.pathname + location.hash;
    }
  });
  document.getElementById("signout").addEventListener("submit", function () {
    remember(NAME_KEY, null);
    remember(window.ExplorerUtil.CLIPBOARD_KEY, null);
  });

  form.hidden = true;
  checking.hidden = false;
  window.ExplorerView.start({
    container: area,
    mode: "guest",
    onListed: showExplorer,
    onSignedOut: showSignIn,
    onTitle: function (name) {
      title.textContent = name || "Your shares";
      document.title = (name || "Your shares") + " - Orvane";
    },
  });
})();
