// The two ways the explorer shows a folder: a table (name, size, date) and
// a grid of tiles with thumbnails of the pictures. Each is made for one
// listing by the explorer and renders its entries into a new element.
"use strict";

(function () {
  var U = window.ExplorerUtil;
  var el = U.el;

  function icon(entry) {
    var img = el("img", "expl-icon");
    img.src = entry.dir ? U.ICON_FOLDER : U.ICON_FILE;
    img.alt = "";
    return img;
  }

  function isPicture(entry) {
    return !entry.dir && U.PICTURES.hasOwnProperty(entry.ext);
  }

  // ---------------------------------------------------------------------

  function ExplorerTable(explorer) {
    this.explorer = explorer;
  }

  ExplorerTable.prototype.render = function (entries) {
    var table = el("table", "expl-table");
    var head = table.appendChild(el("thead")).appendChild(el("tr"));
    head.appendChild(el("th", "expl-name", "Name"));
    head.appendChild(el("th", "expl-size", "Size"));
    head.appendChild(el("th", "expl-date", "Modified"));
    head.appendChild(el("th", "expl-acts")).appendChild(el("span", "expl-hidden", "Actions"));
    var body = table.appendChild(el("tbody"));
    entries.forEach(function (entry) { body.appendChild(this.row(entry)); }, this);
    return table;
  };

  ExplorerTable.prototype.row = function (entry) {
    var row = el("tr", entry.dir ? "expl-folder" : "expl-file");
    var name = row.appendChild(el("td", "expl-name"));
    var link = name.appendChild(this.explorer.linkFor(entry));
    link.appendChild(icon(entry));
    link.appendChild(el("span", "expl-label", entry.name));
    // What the size and date columns say, for screens too narrow for them.
    var sub = [entry.dir ? "" : entry.size, entry.modified].filter(Boolean).join(" \u00b7 ");
    name.appendChild(el("span", "expl-sub", sub));
    row.appendChild(el("td", "expl-size", entry.dir ? "" : entry.size));
    row.appendChild(el("td", "expl-date", entry.modified));
    var acts = row.appendChild(el("td", "expl-acts"));
    var actions = this.explorer.actionsButton(entry);
    if (actions) acts.appendChild(actions);
    return row;
  };

  // ---------------------------------------------------------------------

  function ExplorerGrid(explorer) {
    this.explorer = explorer;
  }

  ExplorerGrid.prototype.render = function (entries) {
    var grid = el("ul", "expl-grid");
    entries.forEach(function (entry) { grid.appendChild(this.tile(entry)); }, this);
    return grid;
  };

  ExplorerGrid.prototype.tile = function (entry) {
    var tile = el("li", "expl-tile " + (entry.dir ? "expl-folder" : "expl-file"));
    var link = tile.appendChild(this.explorer.linkFor(entry));
    var frame = link.appendChild(el("span", "expl-thumb"));
    if (isPicture(entry)) {
      var img = frame.appendChild(el("img", "expl-picture"));
      img.alt = "";
      img.addEventListener("error", function () {
        img.className = "expl-icon";
        img.src = U.ICON_FILE;
      }, { once: true });
      img.src = U.thumbUrl(entry.path);
    } else {
      frame.appendChild(icon(entry));
    }
    link.appendChild(el("span", "expl-label", entry.name));
    var foot = tile.appendChild(el("div", "expl-tile-foot"));
    foot.appendChild(el("span", "expl-sub", entry.dir ? "Folder" : entry.size));
    var actions = this.explorer.actionsButton(entry);
    if (actions) foot.appendChild(actions);
    return tile;
  };

  window.ExplorerTable = ExplorerTable;
  window.ExplorerGrid = ExplorerGrid;
})();
