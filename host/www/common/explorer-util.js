// The pieces of the host's file explorer (explorer.js) that hold no page
// state: requests, the list XML and the address fragment. The fragment says
// what is shown, so Back, reload and bookmarks work:
//   #expl-tabl.<folder>   the folder as a table
//   #expl-grid.<folder>   the folder as a grid of tiles with thumbnails
// optionally followed by "&base=<share folder>" below a share's own folder
// (the public page needs it for the breadcrumbs); both parts percent-encoded.
// On the guest page an empty folder means the guest's share roots.
//
// Every name that comes from the server lands in the page as text
// (textContent, attribute values), never as markup.
"use strict";

(function () {
  var OP = "/app/dapplinepro/";
  var ICON_FOLDER = "/ui/common/folder.svg";
  var ICON_FILE = "/ui/common/file.svg";
  // What the host's thumbnailer reads; anything else gets the file icon.
  var PICTURES = { jpg: 1, jpeg: 1, png: 1, gif: 1, bmp: 1 };
  var CLIPBOARD_KEY = "orvane-explorer-clipboard";
  var WRITABLE_KEY = "orvane-explorer-writable";

  // ---------------------------------------------------------------------
  // Small helpers

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined && text !== null) node.textContent = text;
    return node;
  }

  function button(label, className, onClick) {
    var b = el("button", className, label);
    b.type = "button";
    if (onClick) b.addEventListener("click", onClick);
    return b;
  }

  function clear(node) {
    while (node.firstChild) node.removeChild(node.firstChild);
  }

  // Only answers that say they are XML: the browser's page for a parse
  // error carries inline styles, which the host's policy blocks loudly.
  function parseXml(text, type) {
    if (!text || !/[+/]xml\b/.test(type || "")) return null;
    var doc = new DOMParser().parseFromString(text, "application/xml");
    return doc.getElementsByTagName("parsererror").length ? null : doc;
  }

  function childText(node, tag) {
    for (var c = node && node.firstElementChild; c; c = c.nextElementSibling) {
      if (c.tagName === tag) return c.textContent;
    }
    return null;
  }

  function children(node, tag) {
    var out = [];
    for (var c = node && node.firstElementChild; c; c = c.nextElementSibling) {
      if (c.tagName === tag) out.push(c);
    }
    return out;
  }

  function encodeFields(fields) {
    return Object.keys(fields).map(function (k) {
      return encodeURIComponent(k) + "=" + encodeURIComponent(fields[k]);
    }).join("&");
  }

  function answerOf(response) {
    return response.text().then(function (text) {
      var type = response.headers.get("Content-Type");
      return { status: response.status, ok: response.ok, doc: parseXml(text, type) };
    });
  }

  function post(op, fields) {
    return fetch(OP + op, {
      method: "POST",
      credentials: "same-origin",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body: encodeFields(fields),
    }).then(answerOf);
  }

  function get(op, fields) {
    return fetch(OP + op + "?" + encodeFields(fields), { credentials: "same-origin" }).then(answerOf);
  }

  // The host's answer to a file operation: <result><success>…<message>….
  function resultOf(answer) {
    var root = answer.doc && answer.doc.documentElement;
    if (root && root.tagName === "result") {
      return { ok: answer.ok && childText(root, "success") === "1", message: childText(root, "message") || "" };
    }
    if (answer.status === 403) return { ok: false, message: "Access denied" };
    return { ok: false, message: "The server answered HTTP " + answer.status };
  }

  function joinPath(folder, name) {
    return folder.charAt(folder.length - 1) === "/" ? folder + name : folder + "/" + name;
  }

  // path without its last `count` components.
  function stripComponents(path, count) {
    for (var i = 0; i < count; i++) {
      var slash = path.lastIndexOf("/");
      path = slash > 0 ? path.substring(0, slash) : "/";
    }
    return path;
  }

  function lastComponent(path) {
    var trimmed = path.replace(/\/+$/, "");
    return trimmed.substring(trimmed.lastIndexOf("/") + 1) || path;
  }

  // A name the host may use as one path component.
  function nameProblem(name) {
    if (!name) return "Enter a name.";
    if (name.indexOf("/") >= 0 || name.indexOf("\\") >= 0) return "A name cannot hold \"/\" or \"\\\".";
    if (name === "." || name === "..") return "\"" + name + "\" cannot be used as a name.";
    return "";
  }

  function quoted(name) {
    return "\u201c" + name + "\u201d";
  }

  // ---------------------------------------------------------------------
  // The address fragment

  function parseHash(hash) {
    var m = /^#expl-(tabl|grid)\.(.*)$/.exec(hash);
    if (!m) return null;
    var parts = m[2].split("&base=");
    try {
      var path = decodeURIComponent(parts[0]);
      return { view: m[1], path: path, base: parts.length > 1 ? decodeURIComponent(parts[1]) : path };
    } catch (e) {
      return { invalid: true };
    }
  }

  function hashFor(view, path, base) {
    var hash = "#expl-" + view + "." + encodeURIComponent(path);
    if (base && base !== path) hash += "&base=" + encodeURIComponent(base);
    return hash;
  }

  // ---------------------------------------------------------------------
  // The list XML (see the README's developer notes)

  function entryOf(node) {
    return {
      name: childText(node, "name") || "",
      path: childText(node, "path") || "",
      dir: childText(node, "type") === "dir",
      ext: (childText(node, "ext") || "").toLowerCase(),
      size: childText(node, "size") || "",
      modified: childText(node, "modified") || "",
      writable: childText(node, "writable") === "1",
      isRoot: childText(node, "isroot") === "1",
    };
  }

  // null unless the answer is a listing; folders first, else as listed.
  function listOf(answer) {
    var root = answer.doc && answer.doc.documentElement;
    if (!answer.ok || !root || root.tagName !== "entries") return null;
    var meta = children(root, "meta")[0];
    var entries = children(root, "entry").map(entryOf);
    var folders = entries.filter(function (e) { return e.dir; });
    var files = entries.filter(function (e) { return !e.dir; });
    return {
      isRoot: childText(meta, "isroot") === "1",
      writable: childText(meta, "writable") === "1",
      entries: folders.concat(files),
    };
  }

  function crumbsOf(answer) {
    var root = answer.doc && answer.doc.documentElement;
    if (!answer.ok || !root || root.tagName !== "paths") return null;
    return children(root, "path").map(function (p) { return childText(p, "value") || ""; });
  }

  // Folders the guest was seen to be allowed to write in: the listing of an
  // empty folder carries no entry that says so.
  function knownWritable(path) {
    try {
      return JSON.parse(sessionStorage.getItem(WRITABLE_KEY) || "[]").indexOf(path) >= 0;
    } catch (e) {
      return false;
    }
  }

  function rememberWritable(paths) {
    try {
      var known = JSON.parse(sessionStorage.getItem(WRITABLE_KEY) || "[]");
      paths.forEach(function (p) { if (known.indexOf(p) < 0) known.push(p); });
      sessionStorage.setItem(WRITABLE_KEY, JSON.stringify(known.slice(-500)));
    } catch (e) {
      // Storage off: the controls then show only where the listing says so.
    }
  }

  function downloadUrl(path) {
    return OP + "downloadfile?" + encodeFields({ filepath: path });
  }

  function thumbUrl(path) {
    return OP + "getfsthumbimage?" + encodeFields({ name: path });
  }

  window.ExplorerUtil = {
    OP: OP, ICON_FOLDER: ICON_FOLDER, ICON_FILE: ICON_FILE, PICTURES: PICTURES,
    CLIPBOARD_KEY: CLIPBOARD_KEY,
    el: el, button: button, clear: clear, quoted: quoted, childText: childText,
    parseXml: parseXml, post: post, get: get, resultOf: resultOf,
    joinPath: joinPath, stripComponents: stripComponents, lastComponent: lastComponent,
    nameProblem: nameProblem, parseHash: parseHash, hashFor: hashFor,
    listOf: listOf, crumbsOf: crumbsOf, knownWritable: knownWritable,
    rememberWritable: rememberWritable, downloadUrl: downloadUrl, thumbUrl: thumbUrl,
  };
})();
