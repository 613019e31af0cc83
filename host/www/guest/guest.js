// The guest pages: "/#guest" (the address of a share that asks for a guest)
// leads to the sign-in; the sign-in page shows the signed-in guest's shares.
"use strict";

(function () {
  if (location.pathname === "/" && location.hash === "#guest") {
    location.replace("/ui/guest/");
    return;
  }
  var list = document.getElementById("shares");
  if (!list) return;

  function showShares(xmlText) {
    var doc = new DOMParser().parseFromString(xmlText, "application/xml");
    var names = doc.getElementsByTagName("sharename");
    document.getElementById("signin").hidden = true;
    document.getElementById("signedin").hidden = false;
    document.getElementById("noshares").hidden = names.length !== 0;
    for (var i = 0; i < names.length; i++) {
      var name = names[i].textContent;
      var link = document.createElement("a");
      link.href = "/app/dapplinepro/share/" + encodeURIComponent(name) + "/";
      link.textContent = name;
      var item = document.createElement("li");
      item.appendChild(link);
      list.appendChild(item);
    }
  }

  // Answered only for a signed-in guest; anyone else gets 403.
  fetch("/app/dapplinepro/getguestshares", { credentials: "same-origin" })
    .then(function (response) {
      if (response.ok) return response.text().then(showShares);
    })
    .catch(function () {});
})();
