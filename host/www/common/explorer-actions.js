// The explorer's changes to a folder: new folder, rename, delete, copy and
// move (through a clipboard that survives moving between folders) and
// uploads of files and folders with progress. Each asks the host, says in
// the status line what the host answered, and lists the folder again.
"use strict";

(function () {
  var U = window.ExplorerUtil;
  var el = U.el;
  var button = U.button;
  var q = U.quoted;
  var P = window.ExplorerView.Explorer.prototype;

  function unreachable() {
    return { ok: false, message: "the server could not be reached" };
  }

  // Runs one file operation; resolves with { ok, message } once the folder
  // is listed again.
  P.act = function (op, fields, done, failed) {
    var self = this;
    this.setStatus("busy", "Working\u2026");
    return U.post(op, fields).then(U.resultOf, unreachable).then(function (r) {
      self.setStatus(r.ok ? "ok" : "fail",
        r.ok ? done : failed + ": " + (r.message || "the server gave no reason"));
      return self.refresh().then(function () { return r; });
    });
  };

  P.newFolder = function () {
    var self = this;
    var folder = this.where.path;
    this.dialog.open({
      title: "New folder", input: "", inputLabel: "Folder name",
      buttons: [{ value: "ok", label: "Create" }], validate: U.nameProblem,
    }).then(function (c) {
      if (c.value !== "ok") return;
      var path = U.joinPath(folder, c.text);
      return self.act("createfolder", { path: path }, "Folder " + q(c.text) + " created.",
        "Could not create the folder " + q(c.text)).then(function (r) {
        if (r.ok) U.rememberWritable([path]);
      });
    });
  };

  P.entryActions = function (entry) {
    var self = this;
    var buttons = [];
    if (!entry.dir) buttons.push({ value: "download", label: "Download" });
    buttons.push({ value: "rename", label: "Rename" }, { value: "copy", label: "Copy" },
                 { value: "move", label: "Move" }, { value: "delete", label: "Delete", kind: "danger" });
    this.dialog.open({
      title: entry.name, text: entry.dir ? "Folder" : [entry.size, entry.modified].join(" \u00b7 "),
      buttons: buttons,
    }).then(function (c) {
      if (c.value === "download") self.download(entry);
      if (c.value === "rename") self.rename(entry);
      if (c.value === "delete") self.remove(entry);
      if (c.value === "copy" || c.value === "move") self.toClipboard(entry, c.value);
    });
  };

  P.download = function (entry) {
    var a = this.linkFor(entry);
    a.hidden = true;
    document.body.appendChild(a);
    a.click();
    document.body.removeChild(a);
  };

  P.rename = function (entry) {
    var self = this;
    this.dialog.open({
      title: "Rename " + q(entry.name), input: entry.name, inputLabel: "New name",
      buttons: [{ value: "ok", label: "Rename" }],
      validate: function (text) {
        return U.nameProblem(text) || (text === entry.name ? "Enter a different name." : "");
      },
    }).then(function (c) {
      if (c.value !== "ok") return;
      return self.act("renamefile", { path: entry.path, name: c.text },
        "Renamed " + q(entry.name) + " to " + q(c.text) + ".", "Could not rename " + q(entry.name));
    });
  };

  P.remove = function (entry) {
    var self = this;
    this.dialog.open({
      title: "Delete " + q(entry.name) + "?",
      text: entry.dir ? "The folder and everything in it will be deleted." : "The file will be deleted.",
      buttons: [{ value: "ok", label: "Delete", kind: "danger" }],
    }).then(function (c) {
      if (c.value !== "ok") return;
      return self.act("deletefile", { path: entry.path }, q(entry.name) + " deleted.",
        "Could not delete " + q(entry.name));
    });
  };

  // ---------------------------------------------------------------------
  // Copy and move: the entry waits in the clipboard while the visitor opens
  // the folder it should go to.

  P.clipboard = function () {
    try {
      return JSON.parse(sessionStorage.getItem(U.CLIPBOARD_KEY) || "null");
    } catch (e) {
      return null;
    }
  };

  P.setClipboard = function (clip) {
    try {
      if (clip) sessionStorage.setItem(U.CLIPBOARD_KEY, JSON.stringify(clip));
      else sessionStorage.removeItem(U.CLIPBOARD_KEY);
    } catch (e) {
      this.memoryClip = clip;
    }
    this.showClipboard();
  };

  P.toClipboard = function (entry, op) {
    this.setStatus("", "");
    this.setClipboard({ op: op, path: entry.path, name: entry.name });
  };

  P.showClipboard = function () {
    var clip = this.clipboard() || this.memoryClip;
    U.clear(this.clipBar);
    this.clipBar.hidden = !clip || !this.where || (this.guest && !this.where.path);
    if (this.clipBar.hidden) return;
    var text = (clip.op === "copy" ? "Copy " : "Move ") + q(clip.name) +
      (this.writable ? ": choose Paste here in the folder it should go to."
                     : ": this folder cannot take it; open another one.");
    this.clipBar.appendChild(el("span", "expl-clip-text", text));
    if (this.writable) this.clipBar.appendChild(button("Paste here", "expl-paste", this.paste.bind(this)));
    this.clipBar.appendChild(button("Cancel", "secondary", this.setClipboard.bind(this, null)));
  };

  P.paste = function () {
    var self = this;
    var clip = this.clipboard() || this.memoryClip;
    var folder = this.where.path;
    var done = function (r) {
      if (r.ok) self.setClipboard(null);
    };
    if (clip.op === "copy") {
      return this.act("copyfile", { path: clip.path, copyto: folder }, q(clip.name) + " copied here.",
        "Could not copy " + q(clip.name)).then(done);
    }
    return this.act("renameormove", { fromname: clip.path, toname: U.joinPath(folder, clip.name) },
      q(clip.name) + " moved here.", "Could not move " + q(clip.name)).then(done);
  };

  // ---------------------------------------------------------------------
  // Uploads: the share pages' uploader (the plug-in's js/uploader.js),
  // resumable and in chunks where the host speaks tus, else multipart; files
  // or whole folders, with progress, speed and time left.

  var engine = null;
  // The uploader, loaded once from the plug-in that serves the explorer's
  // operations; a failed load is tried again at the next upload.
  function uploadEngine() {
    if (window.OrvaneUpload) return Promise.resolve(window.OrvaneUpload);
    if (!engine) {
      engine = new Promise(function (resolve, reject) {
        var script = document.createElement("script");
        script.src = U.OP + "js/uploader.js";
        script.addEventListener("load", function () {
          if (window.OrvaneUpload) resolve(window.OrvaneUpload);
          else reject(new Error("no uploader"));
        });
        script.addEventListener("error", function () {
          engine = null;
          reject(new Error("the uploader could not be loaded"));
        });
        document.head.appendChild(script);
      });
    }
    return engine;
  }

  P.uploadChosen = function (e) {
    var input = e && e.target && e.target.files ? e.target : this.fileInput;
    var list = Array.prototype.slice.call(input.files);
    input.value = "";
    if (!list.length) return;
    var self = this;
    uploadEngine().then(function (E) { self.upload(E.fromList(list)); },
      function () { self.upload(list.map(function (f) { return { file: f, path: "" }; })); });
  };

  P.showProgress = function (percent, text) {
    this.progress.hidden = false;
    this.progressBar.value = percent;
    this.progress.setAttribute("data-percent", String(percent));
    this.progressText.textContent = text;
  };

  // The host's reason from its <result> answer, if it gave one.
  function reasonOf(status, text) {
    var doc = U.parseXml(text, /^\s*</.test(text || "") ? "application/xml" : "");
    var root = doc && doc.documentElement;
    return root && root.tagName === "result" ? U.childText(root, "message") : "";
  }

  // items: [{ file, path }], path a file's place in a chosen or dropped folder.
  P.upload = function (items) {
    var self = this;
    var url = U.OP + "START_GUEST_UPLOAD?path=" + encodeURIComponent(this.where.path);
    var what = items.length === 1 ? q(items[0].path || items[0].file.name) : items.length + " files";
    this.showProgress(0, "Uploading " + what);
    this.setStatus("busy", "Uploading\u2026");
    uploadEngine().then(function (E) {
      var uploader = new E.Uploader({
        url: url, field: "file", reasonOf: reasonOf,
        onChange: function (u) {
          var t = u.totals();
          if (!u.running || !t.bytes) return;
          self.showProgress(Math.floor((100 * t.sent) / t.bytes), "Uploading " + what + " \u00b7 " +
            E.describe(t.sent) + " of " + E.describe(t.bytes) +
            (t.speed > 0 ? " \u00b7 " + E.describe(t.speed) + "/s" : "") +
            (t.left >= 0 ? " \u00b7 " + E.formatTime(t.left) + " left" : ""));
        },
        onIdle: function (u) { self.uploaded(u, what); },
      });
      uploader.add(items);
    }, function (e) {
      self.progress.hidden = true;
      self.setStatus("fail", "Could not upload " + what + ": " + e.message);
    });
  };

  // The end of an upload: said in the status line, each failed file named
  // with its reason and a button to try them again.
  P.uploaded = function (uploader, what) {
    var failed = uploader.items.filter(function (i) { return i.state === "failed"; });
    var done = uploader.items.filter(function (i) { return i.state === "done"; });
    if (!failed.length) {
      if (done.length) this.showProgress(100, "Uploaded " + what);
      else this.progress.hidden = true;
      this.setStatus(done.length ? "ok" : "", done.length ? "Uploaded " + what + "." : "");
    } else {
      this.progress.hidden = true;
      this.setStatus("fail", failed.map(function (i) {
        return "Could not upload " + q(i.name) + ": " + i.message;
      }).join(" "));
      this.status.appendChild(document.createTextNode(" "));
      this.status.appendChild(button("Retry", "expl-retry", function () {
        uploader.retryFailed();
      }));
    }
    this.refresh();
  };

  // Files and folders dropped onto the folder go where the upload button
  // would send them.
  P.watchDrops = function (area) {
    var self = this;
    uploadEngine().catch(function () {});  // ready before the first drop
    var accepts = function (e) {
      return self.writable && e.dataTransfer && Array.prototype.indexOf.call(e.dataTransfer.types, "Files") >= 0;
    };
    ["dragenter", "dragover"].forEach(function (type) {
      area.addEventListener(type, function (e) {
        if (!accepts(e)) return;
        e.preventDefault();
        area.classList.add("expl-drop");
      });
    });
    area.addEventListener("dragleave", function () { area.classList.remove("expl-drop"); });
    area.addEventListener("drop", function (e) {
      area.classList.remove("expl-drop");
      if (!accepts(e)) return;
      e.preventDefault();
      // Folders are read from the drop's entries while the event lasts.
      var dropped = window.OrvaneUpload ? window.OrvaneUpload.fromDrop(e.dataTransfer)
        : Promise.resolve(Array.prototype.slice.call(e.dataTransfer.files).map(function (f) {
          return { file: f, path: "" };
        }));
      dropped.then(function (items) {
        if (items.length) self.upload(items);
      }, function () {
        self.setStatus("fail", "The dropped folder could not be read.");
      });
    });
  };
})();
