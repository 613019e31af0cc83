// The host's file explorer as a page part: breadcrumbs, a table or grid of
// one folder, and, where the listing says the visitor may write, new folder,
// rename, delete, copy, move and upload. The public page and the guest page
// start it with ExplorerView.start(); requests and formats are in
// explorer-util.js. Every server text is put into the page as text.
"use strict";

(function () {
  var U = window.ExplorerUtil;
  var el = U.el;
  var button = U.button;

  // options: container (element), mode "public" or "guest", onTitle(name),
  // onListed() after each listing shown, onSignedOut() (guest: the host does
  // not know the visitor).
  function Explorer(options) {
    this.options = options;
    this.guest = options.mode === "guest";
    this.where = null;     // { view, path, base } shown now
    this.writable = false; // the shown folder takes new entries
    this.serial = 0;       // drops answers for a folder no longer shown
    this.build(options.container);
    window.addEventListener("hashchange", this.show.bind(this));
    this.show();
  }

  Explorer.prototype.build = function (root) {
    root.classList.add("expl");
    var bar = root.appendChild(el("div", "expl-bar"));
    this.crumbs = bar.appendChild(el("nav", "expl-crumbs"));
    this.crumbs.setAttribute("aria-label", "Folder path");
    var views = bar.appendChild(el("div", "expl-views"));
    views.setAttribute("role", "group");
    views.setAttribute("aria-label", "View");
    this.viewButtons = {
      tabl: views.appendChild(button("Table", "expl-view", this.setView.bind(this, "tabl"))),
      grid: views.appendChild(button("Grid", "expl-view", this.setView.bind(this, "grid"))),
    };
    this.tools = root.appendChild(el("div", "expl-tools"));
    this.tools.hidden = true;
    this.tools.appendChild(button("New folder", "expl-newfolder", this.newFolder.bind(this)));
    var upload = this.tools.appendChild(el("label", "button expl-upload-button", "Upload files"));
    this.fileInput = upload.appendChild(el("input"));
    this.fileInput.type = "file";
    this.fileInput.multiple = true;
    this.fileInput.className = "expl-file-input";
    this.fileInput.addEventListener("change", this.uploadChosen.bind(this));
    var folder = this.tools.appendChild(el("label", "button expl-upload-button", "Upload a folder"));
    this.folderInput = folder.appendChild(el("input"));
    this.folderInput.type = "file";
    this.folderInput.webkitdirectory = true;
    this.folderInput.className = "expl-file-input expl-folder-input";
    this.folderInput.addEventListener("change", this.uploadChosen.bind(this));
    this.clipBar = root.appendChild(el("div", "expl-clip"));
    this.clipBar.hidden = true;
    this.progress = root.appendChild(el("div", "expl-progress"));
    this.progress.hidden = true;
    this.progressBar = this.progress.appendChild(el("progress"));
    this.progressBar.max = 100;
    this.progressText = this.progress.appendChild(el("span", "expl-progress-text"));
    this.note = root.appendChild(el("p", "expl-note",
      "Read only: you may open and download here, not change anything."));
    this.note.hidden = true;
    this.status = root.appendChild(el("p", "expl-status"));
    this.status.setAttribute("role", "status");
    this.content = root.appendChild(el("div", "expl-content"));
    this.dialog = new window.ExplorerDialog(root);
    this.watchDrops(root);
  };

  Explorer.prototype.setStatus = function (kind, text) {
    this.status.className = "expl-status" + (kind ? " expl-" + kind : "");
    this.status.textContent = text || "";
  };

  Explorer.prototype.setView = function (view) {
    if (!this.where || this.where.view === view) return;
    history.replaceState(null, "", U.hashFor(view, this.where.path, this.where.base));
    this.show();
  };

  // Shows what the fragment names.
  Explorer.prototype.show = function () {
    var where = U.parseHash(location.hash);
    if (where && where.invalid && !this.guest) {
      this.message("This address names no folder that can be shown.");
      return;
    }
    if (where && where.invalid) where = null;  // a guest then sees his shares
    if (!where) where = { view: "tabl", path: "", base: "" };
    // What was said about the last folder does not hold for the next one.
    if (!this.where || this.where.path !== where.path) {
      this.progress.hidden = true;
      this.setStatus("", "");
    }
    this.where = where;
    for (var v in this.viewButtons) {
      this.viewButtons[v].setAttribute("aria-pressed", v === where.view ? "true" : "false");
    }
    if (!where.path && !this.guest) {
      this.message("No folder was given. Open the link you received for the share.");
      return;
    }
    this.refresh();
  };

  Explorer.prototype.message = function (text) {
    this.where = null;
    this.writable = false;
    this.tools.hidden = true;
    this.note.hidden = true;
    U.clear(this.crumbs);
    if (this.guest) {
      this.crumbs.appendChild(el("ol")).appendChild(this.crumb("Your shares", "#expl-tabl."));
    }
    U.clear(this.content);
    this.content.appendChild(el("p", "expl-empty", text));
    this.showClipboard();
  };

  // Lists the shown folder again; the status line is left as it is.
  Explorer.prototype.refresh = function () {
    var where = this.where;
    if (!where) return Promise.resolve();
    var serial = ++this.serial;
    var self = this;
    this.content.setAttribute("aria-busy", "true");
    var fields = { path: where.path, start: "0", limit: "-1", filter: "", search: "" };
    var list = null;
    // The breadcrumbs only for a folder the visitor may list: the host
    // refuses the others with an error the browser reports.
    return U.post("getfilelist", fields).then(function (answer) {
      list = U.listOf(answer);
      if (!list) return answer;
      if (!where.path) return [];
      // The plug-in decodes these values once more than the query itself.
      return U.get("splitfilepaths", { path: encodeURIComponent(where.path),
                                       basepath: encodeURIComponent(where.base) })
        .then(U.crumbsOf, function () { return null; });
    }).then(function (answer) {
      if (serial !== self.serial) return;
      self.content.removeAttribute("aria-busy");
      if (!list) return self.refused(answer);
      self.showCrumbs(answer);
      self.showList(list);
      self.listed();
    }, function () {
      if (serial !== self.serial) return;
      self.content.removeAttribute("aria-busy");
      self.setStatus("fail", "The server could not be reached.");
    });
  };

  // A listing refused: for a guest this may mean the sign-in ended.
  Explorer.prototype.refused = function (answer) {
    var self = this;
    var root = answer.doc && answer.doc.documentElement;
    var reason = root && root.tagName === "result" ? U.childText(root, "message") : "";
    if (this.guest && this.where.path) {
      return U.post("getfilelist", { path: "" }).then(function (roots) {
        if (!U.listOf(roots)) return self.options.onSignedOut();
        self.message(reason || "This folder is not available to you.");
        self.listed();
      });
    }
    if (this.guest) return this.options.onSignedOut();
    this.message(reason || "This folder is not shared, or the share has ended.");
  };

  Explorer.prototype.listed = function () {
    if (this.options.onListed) this.options.onListed();
  };

  Explorer.prototype.showCrumbs = function (names) {
    var where = this.where;
    var list = el("ol");
    var title = "";
    if (this.guest) list.appendChild(this.crumb("Your shares", where.path ? "#expl-" + where.view + "." : null));
    if (where.path && (!names || !names.length)) names = [U.lastComponent(where.path)];
    (names || []).forEach(function (name, i) {
      var last = i === names.length - 1;
      var path = U.stripComponents(where.path, names.length - 1 - i);
      list.appendChild(this.crumb(name, last ? null : U.hashFor(where.view, path, where.base)));
      if (i === 0) title = name;
    }, this);
    U.clear(this.crumbs);
    this.crumbs.appendChild(list);
    if (this.options.onTitle) this.options.onTitle(title);
  };

  Explorer.prototype.crumb = function (text, href) {
    var item = el("li");
    var target = item.appendChild(el(href ? "a" : "span", "", text));
    if (href) target.href = href;
    else target.setAttribute("aria-current", "location");
    return item;
  };

  Explorer.prototype.showList = function (list) {
    var where = this.where;
    var atRoots = this.guest && !where.path;
    var writableHere = list.entries.filter(function (e) { return e.writable && !e.isRoot; });
    this.writable = !atRoots && (list.writable || writableHere.length > 0 || U.knownWritable(where.path));
    if (this.writable) U.rememberWritable([where.path]);
    U.rememberWritable(writableHere.filter(function (e) { return e.dir; }).map(function (e) { return e.path; }));
    this.tools.hidden = !this.writable;
    // Said only where the listing shows it: an empty folder tells nothing.
    this.note.hidden = !this.guest || atRoots || this.writable || !list.entries.length;
    this.showClipboard();
    U.clear(this.content);
    if (!list.entries.length) {
      this.content.appendChild(el("p", "expl-empty",
        atRoots ? "No share is offered to you at the moment." : "This folder is empty."));
      return;
    }
    var view = where.view === "grid" ? new window.ExplorerGrid(this) : new window.ExplorerTable(this);
    this.content.appendChild(view.render(list.entries));
  };

  // Where an entry leads: a folder opens in the explorer, a file downloads.
  Explorer.prototype.linkFor = function (entry) {
    var a = el("a");
    if (entry.dir) {
      var base = entry.isRoot ? entry.path : this.where.base;
      a.href = U.hashFor(this.where.view, entry.path, base);
    } else {
      a.href = U.downloadUrl(entry.path);
      a.setAttribute("download", entry.name);
    }
    return a;
  };

  // The actions button of an entry the visitor may change.
  Explorer.prototype.actionsButton = function (entry) {
    if (!entry.writable || entry.isRoot) return null;
    var b = button("\u22ef", "expl-actions", this.entryActions.bind(this, entry));
    b.setAttribute("aria-label", "Actions for " + entry.name);
    b.title = "Actions for " + entry.name;
    return b;
  };

  window.ExplorerView = {
    start: function (options) { return new Explorer(options); },
    Explorer: Explorer,
  };
})();
