// The public explorer: /ui/core/index.html?mode=public#expl-tabl.<folder>,
// the address a public folder share's link leads to. Anonymous visitors
// only read, so the listing never offers changes here.
"use strict";

(function () {
  var title = document.getElementById("title");
  window.ExplorerView.start({
    container: document.getElementById("explorer"),
    mode: "public",
    onTitle: function (name) {
      title.textContent = name || "Shared folder";
      document.title = (name || "Shared folder") + " - Orvane";
    },
  });
})();
