/*
 * Uploads that survive real networks, for the share pages and the host's
 * explorer. Where the upload address answers OPTIONS with Tus-Version
 * 1.0.0, each file goes as a resumable tus upload: a POST creates it (its
 * name and its path in a dropped or chosen folder in Upload-Metadata), then
 * PATCHes of at most 32 MiB bring the bytes. A broken connection, a host
 * that restarts or a 5xx is waited out and the file goes on from the offset
 * a HEAD reports; the upload's address is kept in localStorage (keyed by
 * the address, the file's path, size and date), so that after a reload the
 * same file chosen again goes on where it stopped. Without tus the file is
 * sent as one multipart form, as older hosts take it. Credentials go along
 * as the browser sends them for the page (the guest cookie, Basic).
 *
 * window.OrvaneUpload holds:
 *   Uploader(options)  the queue, one file at a time; options: url, field
 *                      (the form's file field), onChange(uploader),
 *                      onIdle(uploader), reasonOf(status, text) -> text.
 *   fromList(files)    items of an <input type=file> (with its folders).
 *   fromDrop(dataTransfer)  a promise of the items of a drop, folders read
 *                      through webkitGetAsEntry.
 *   describe(bytes), formatTime(seconds)
 *   SharePanel(panel)  the share page's panel (#swf_content).
 *
 * window.orvaneUploadChunkBytes, when set to a smaller number, is the
 * chunk size (tests use it to get several chunks out of a small file).
 */
(function (window, document) {
    "use strict";

    var MAX_CHUNK = 32 * 1024 * 1024;
    var STORE_PREFIX = "orvane.upload|";
    // The host lets an unfinished upload expire after a day.
    var KEEP_MS = 24 * 3600 * 1000;
    // Waits before the next try after a break; about four minutes in all,
    // and a browser that comes back online tries at once.
    var RETRY_DELAYS = [500, 1000, 2000, 4000, 8000, 15000, 30000, 30000, 30000, 30000, 30000, 30000];

    function chunkBytes() {
        var wanted = Number(window.orvaneUploadChunkBytes);
        return wanted >= 1024 && wanted < MAX_CHUNK ? Math.floor(wanted) : MAX_CHUNK;
    }

    function base64(text) {
        var bytes = new TextEncoder().encode(text), binary = "";
        for (var i = 0; i < bytes.length; i++) binary += String.fromCharCode(bytes[i]);
        return window.btoa(binary);
    }

    // --- localStorage, which a browser may refuse.
    function storeGet(key) {
        try {
            return JSON.parse(window.localStorage.getItem(key) || "null");
        } catch (e) {
            return null;
        }
    }
    function storeSet(key, value) {
        try {
            window.localStorage.setItem(key, JSON.stringify(value));
        } catch (e) { /* resuming after a reload is then not possible */ }
    }
    function storeRemove(key) {
        try {
            window.localStorage.removeItem(key);
        } catch (e) { /* nothing kept */ }
    }
    function storeKeys(prefix) {
        var keys = [];
        try {
            for (var i = 0; i < window.localStorage.length; i++) {
                var key = window.localStorage.key(i);
                if (key && key.indexOf(prefix) === 0) keys.push(key);
            }
        } catch (e) { /* none */ }
        return keys;
    }

    // The address without its signature: kept keys name no secret.
    function addressKey(url) {
        var u = new URL(url, window.location.href);
        u.searchParams.delete("oauthsig");
        return u.pathname + "?" + u.searchParams.toString();
    }

    function describe(bytes) {
        var units = ["B", "KB", "MB", "GB", "TB"], i = 0;
        while (bytes >= 1024 && i < units.length - 1) { bytes /= 1024; i++; }
        return (i === 0 ? String(Math.round(bytes)) : bytes.toFixed(bytes < 10 ? 1 : 0)) + " " + units[i];
    }

    function formatTime(seconds) {
        seconds = Math.max(0, Math.round(seconds));
        if (seconds < 60) return seconds + " s";
        if (seconds < 3600) return Math.floor(seconds / 60) + " min " + (seconds % 60) + " s";
        return Math.floor(seconds / 3600) + " h " + Math.floor((seconds % 3600) / 60) + " min";
    }

    // A failure that waiting may cure: no connection, or a host (or proxy)
    // that cannot answer now. 507 (disk full) is no such thing.
    function transient(status) {
        return status === 0 || status === 408 || status === 429 ||
            (status >= 500 && status !== 507 && status !== 501);
    }

    function Failure(status, text) {
        this.status = status;
        this.text = text || "";
    }

    // One request through XMLHttpRequest (fetch reports no upload progress).
    // Resolves with { status, header(name), text }; a broken connection
    // resolves with status 0.
    function send(item, method, url, headers, body, onProgress) {
        return new Promise(function (resolve) {
            var xhr = new XMLHttpRequest();
            item.xhr = xhr;
            xhr.open(method, url, true);
            xhr.withCredentials = true;
            for (var name in headers) xhr.setRequestHeader(name, headers[name]);
            if (onProgress) {
                xhr.upload.addEventListener("progress", function (e) { onProgress(e.loaded); });
            }
            function done() {
                if (item.xhr === xhr) item.xhr = null;
                resolve({
                    status: xhr.status,
                    text: xhr.status ? xhr.responseText : "",
                    header: function (n) { return xhr.status ? xhr.getResponseHeader(n) : null; }
                });
            }
            xhr.addEventListener("load", done);
            xhr.addEventListener("error", done);
            xhr.addEventListener("abort", done);
            xhr.addEventListener("timeout", done);
            xhr.send(body === undefined ? null : body);
        });
    }

    var counter = 0;

    function Uploader(options) {
        this.options = options || {};
        this.url = new URL(this.options.url, window.location.href).href;
        this.keyBase = STORE_PREFIX + addressKey(this.url) + "|";
        this.items = [];
        this.running = false;
        this.mode = null;  // "tus" or "form" once asked
        this.samples = [];
        this.lock = null;
    }

    // The uploaders under way: a page shown again takes the wake lock anew,
    // a browser back online tries at once.
    var running = [];
    document.addEventListener("visibilitychange", function () {
        if (document.visibilityState !== "visible") return;
        running.forEach(function (u) { u.keepAwake(); });
    });
    window.addEventListener("online", function () {
        running.forEach(function (u) { u.wakeUp(); });
    });

    // items: [{ file, path }] where path is the file's place in a chosen
    // or dropped folder ("Holiday/day 1/a.jpg"), or "".
    Uploader.prototype.add = function (items) {
        for (var i = 0; i < items.length; i++) {
            var file = items[i].file;
            this.items.push({
                id: "upl" + (++counter), file: file, path: items[i].path || "",
                name: items[i].path || file.name, size: file.size, sent: 0,
                state: "queued", message: "", xhr: null, location: "", cancelled: false
            });
        }
        this.changed();
        this.run();
    };

    Uploader.prototype.retry = function (item) {
        if (item.state !== "failed") return;
        item.state = "queued";
        item.message = "";
        item.cancelled = false;
        this.changed();
        this.run();
    };

    Uploader.prototype.retryFailed = function () {
        var failed = this.items.filter(function (i) { return i.state === "failed"; });
        for (var i = 0; i < failed.length; i++) this.retry(failed[i]);
    };

    Uploader.prototype.cancel = function (item) {
        if (item.state !== "queued" && item.state !== "uploading") return;
        item.cancelled = true;
        item.state = "cancelled";
        if (item.xhr) item.xhr.abort();
        this.wakeUp();
        // The host frees what the upload holds of the share's room.
        if (item.location) {
            send({}, "DELETE", item.location, { "Tus-Resumable": "1.0.0" });
            storeRemove(this.keyOf(item));
        }
        this.changed();
    };

    Uploader.prototype.cancelAll = function () {
        var self = this;
        this.items.slice().forEach(function (item) { self.cancel(item); });
    };

    Uploader.prototype.keyOf = function (item) {
        return this.keyBase + item.name + "|" + item.size + "|" + (item.file.lastModified || 0);
    };

    // Uploads this address left unfinished (a reload, a closed tab):
    // [{ key, name, size, offset }], the stale ones forgotten.
    Uploader.prototype.unfinished = function () {
        var out = [], now = Date.now(), self = this;
        storeKeys(this.keyBase).forEach(function (key) {
            var saved = storeGet(key);
            if (!saved || now - saved.time > KEEP_MS) return storeRemove(key);
            if (self.items.some(function (i) { return self.keyOf(i) === key && i.state !== "failed"; })) return;
            out.push({ key: key, name: saved.name, size: saved.size, offset: saved.offset || 0 });
        });
        return out;
    };

    Uploader.prototype.forget = function (key) {
        var saved = storeGet(key);
        storeRemove(key);
        if (saved && saved.url) send({}, "DELETE", saved.url, { "Tus-Resumable": "1.0.0" });
        this.changed();
    };

    // Totals over the files not cancelled: bytes, files, speed (bytes per
    // second over the last seconds) and the seconds left, when known.
    Uploader.prototype.totals = function () {
        var t = { bytes: 0, sent: 0, files: 0, done: 0, failed: 0, active: 0, speed: 0, left: -1 };
        this.items.forEach(function (i) {
            if (i.state === "cancelled") return;
            t.files++;
            t.bytes += i.size;
            t.sent += i.state === "done" ? i.size : i.sent;
            if (i.state === "done") t.done++;
            if (i.state === "failed") t.failed++;
            if (i.state === "queued" || i.state === "uploading") t.active++;
        });
        var s = this.samples;
        if (this.running && s.length > 1 && s[s.length - 1].t - s[0].t >= 500) {
            t.speed = (s[s.length - 1].b - s[0].b) * 1000 / (s[s.length - 1].t - s[0].t);
            if (t.speed > 0) t.left = (t.bytes - t.sent) / t.speed;
        }
        return t;
    };

    Uploader.prototype.progressed = function (item, sent) {
        item.sent = Math.min(item.size, sent);
        var now = Date.now(), total = 0;
        this.items.forEach(function (i) { total += i.state === "done" ? i.size : i.sent; });
        this.samples.push({ t: now, b: total });
        while (this.samples.length > 2 && now - this.samples[0].t > 5000) this.samples.shift();
        this.changed();
    };

    Uploader.prototype.changed = function () {
        if (this.options.onChange) this.options.onChange(this);
    };

    // The Screen Wake Lock while files go: a phone that locks its screen
    // would suspend the page and break the upload.
    Uploader.prototype.keepAwake = function () {
        var self = this;
        if (this.lock || !navigator.wakeLock || document.visibilityState !== "visible") return;
        navigator.wakeLock.request("screen").then(function (lock) {
            if (!self.running) return lock.release();
            self.lock = lock;
            lock.addEventListener("release", function () { if (self.lock === lock) self.lock = null; });
        }, function () { /* not granted: the upload goes on regardless */ });
    };

    Uploader.prototype.letSleep = function () {
        if (this.lock) this.lock.release().catch(function () {});
        this.lock = null;
    };

    Uploader.prototype.run = async function () {
        if (this.running) return;
        this.running = true;
        running.push(this);
        this.samples = [];
        this.keepAwake();
        try {
            for (;;) {
                var item = this.items.filter(function (i) { return i.state === "queued"; })[0];
                if (!item) break;
                await this.upload(item);
            }
        } finally {
            this.running = false;
            running.splice(running.indexOf(this), 1);
            this.letSleep();
            this.changed();
            if (this.options.onIdle) this.options.onIdle(this);
        }
    };

    Uploader.prototype.upload = async function (item) {
        item.state = "uploading";
        item.attempts = 0;
        this.changed();
        try {
            if (!this.mode) this.mode = await this.probe(item);
            if (this.mode === "tus") await this.sendTus(item);
            else await this.sendForm(item);
            if (item.cancelled) return;
            item.state = "done";
            item.sent = item.size;
        } catch (e) {
            if (item.cancelled) return;
            item.state = "failed";
            item.message = e instanceof Failure ? this.reason(e.status, e.text) : String(e && e.message || e);
        }
        this.changed();
    };

    // tus when the address says it speaks 1.0.0.
    Uploader.prototype.probe = async function (item) {
        for (;;) {
            var r = await send(item, "OPTIONS", this.url, {});
            if (item.cancelled) throw new Failure(0, "");
            if (r.status && !transient(r.status)) {
                var versions = (r.header("Tus-Version") || "").split(",").map(function (v) { return v.trim(); });
                return versions.indexOf("1.0.0") >= 0 ? "tus" : "form";
            }
            await this.pause(item, r.status);
        }
    };

    // Waits before another try; throws once the tries are used up.
    Uploader.prototype.pause = function (item, status, text) {
        if (item.cancelled) return Promise.reject(new Failure(0, ""));
        if (item.attempts >= RETRY_DELAYS.length) return Promise.reject(new Failure(status, text));
        var delay = RETRY_DELAYS[item.attempts++], self = this;
        item.message = "Connection lost; trying again\u2026";
        this.changed();
        return new Promise(function (resolve) {
            var timer = window.setTimeout(finish, delay);
            function finish() {
                window.clearTimeout(timer);
                if (self.waking === finish) self.waking = null;
                item.message = "";
                resolve();
            }
            self.waking = finish;
        });
    };

    Uploader.prototype.wakeUp = function () {
        if (this.waking) this.waking();
    };

    Uploader.prototype.tusHeaders = function (extra) {
        var headers = { "Tus-Resumable": "1.0.0" };
        for (var k in extra) headers[k] = extra[k];
        return headers;
    };

    // Where the kept upload stands: its offset, or -1 when the host no
    // longer knows it (expired, finished and gone, another visitor's).
    Uploader.prototype.offsetOf = async function (item) {
        for (;;) {
            var r = await send(item, "HEAD", item.location, this.tusHeaders({}));
            if (item.cancelled) throw new Failure(0, "");
            if (r.status === 200 || r.status === 204) {
                var offset = Number(r.header("Upload-Offset"));
                var length = r.header("Upload-Length");
                if (!isFinite(offset) || offset < 0 || (length !== null && Number(length) !== item.size)) return -1;
                return offset;
            }
            if (!transient(r.status)) return -1;
            await this.pause(item, r.status, r.text);
        }
    };

    Uploader.prototype.create = async function (item) {
        var meta = "filename " + base64(item.file.name);
        if (item.path) meta += ",relativePath " + base64(item.path);
        if (item.file.type) meta += ",filetype " + base64(item.file.type);
        for (;;) {
            var r = await send(item, "POST", this.url, this.tusHeaders({
                "Upload-Length": String(item.size), "Upload-Metadata": meta
            }));
            if (item.cancelled) throw new Failure(0, "");
            if (r.status === 201 && r.header("Location")) {
                item.location = new URL(r.header("Location"), this.url).href;
                var offset = Number(r.header("Upload-Offset") || 0);
                if (offset < item.size) {
                    storeSet(this.keyOf(item), {
                        url: item.location, name: item.name, size: item.size, offset: offset, time: Date.now()
                    });
                }
                return offset;
            }
            if (!transient(r.status)) throw new Failure(r.status, r.text);
            await this.pause(item, r.status, r.text);
        }
    };

    Uploader.prototype.sendTus = async function (item) {
        var key = this.keyOf(item), saved = storeGet(key), offset = -1, self = this;
        if (saved && saved.url && Date.now() - saved.time < KEEP_MS) {
            item.location = saved.url;
            offset = await this.offsetOf(item);
        }
        if (offset < 0) {
            storeRemove(key);
            item.location = "";
            offset = await this.create(item);
        }
        var recreated = false;
        this.progressed(item, offset);
        while (offset < item.size) {
            var end = Math.min(item.size, offset + chunkBytes()), from = offset;
            var r = await send(item, "PATCH", item.location, this.tusHeaders({
                "Upload-Offset": String(offset), "Content-Type": "application/offset+octet-stream"
            }), item.file.slice(offset, end), function (loaded) { self.progressed(item, from + loaded); });
            if (item.cancelled) throw new Failure(0, "");
            if (r.status === 204 || r.status === 200) {
                offset = Number(r.header("Upload-Offset"));
                if (!isFinite(offset)) offset = end;
                item.attempts = 0;
                storeSet(key, { url: item.location, name: item.name, size: item.size, offset: offset, time: Date.now() });
                this.progressed(item, offset);
            } else if (r.status === 409 || transient(r.status)) {
                // A break, or the host has other bytes than we thought: ask.
                if (r.status !== 409) await this.pause(item, r.status, r.text);
                offset = await this.offsetOf(item);
                if (offset < 0 && recreated) throw new Failure(404, "");
                if (offset < 0) { recreated = true; offset = await this.create(item); }
                this.progressed(item, offset);
            } else if ((r.status === 404 || r.status === 410) && !recreated) {
                // Expired meanwhile: the file begins anew.
                recreated = true;
                storeRemove(key);
                offset = await this.create(item);
                this.progressed(item, offset);
            } else {
                throw new Failure(r.status, r.text);
            }
        }
        storeRemove(key);
    };

    Uploader.prototype.sendForm = async function (item) {
        var form = new FormData(), field = this.options.field || "Filedata", self = this;
        if (field === "Filedata") form.append("Filename", item.file.name);
        form.append(field, item.file, item.file.name);
        var r = await send(item, "POST", this.url, {}, form, function (loaded) {
            self.progressed(item, Math.min(loaded, item.size));
        });
        if (item.cancelled) return;
        if (r.status < 200 || r.status >= 300) throw new Failure(r.status, r.text);
        item.answer = r.text;
    };

    var REASONS = {
        "0": "the connection was lost.",
        "401": "please sign in to upload.",
        "403": "uploading here is not allowed.",
        "404": "the host no longer knows this upload.",
        "413": "the file is larger than this share allows.",
        "507": "there is not enough space for this file."
    };

    // Why a file failed, as the end of "Upload failed: ...".
    Uploader.prototype.reason = function (status, text) {
        var own = this.options.reasonOf && this.options.reasonOf(status, text);
        if (own) return own;
        if (REASONS[status]) return REASONS[status];
        // The host's short plain answers (a folder name refused, ...).
        var line = String(text || "").trim();
        if (line && line.length < 200 && line.indexOf("<") < 0) return line;
        return "error " + status + ".";
    };

    // --- Collecting files.

    function hidden(path) {
        return path.split("/").some(function (part) { return part.charAt(0) === "."; });
    }

    // The files of an input; a folder input gives their paths inside it.
    // Hidden files (".DS_Store", ".git/...") of a folder are left out: the
    // host keeps them from visitors and takes no hidden folder.
    function fromList(list) {
        var out = [];
        for (var i = 0; i < (list ? list.length : 0); i++) {
            var path = list[i].webkitRelativePath || "";
            if (path && hidden(path)) continue;
            out.push({ file: list[i], path: path });
        }
        return out;
    }

    function readAll(reader) {
        return new Promise(function (resolve, reject) {
            var all = [];
            (function next() {
                reader.readEntries(function (batch) {
                    if (!batch.length) return resolve(all);
                    all = all.concat(Array.prototype.slice.call(batch));
                    next();
                }, reject);
            })();
        });
    }

    async function walk(entry, out) {
        var path = entry.fullPath.replace(/^\/+/, "");
        if (hidden(path)) return;
        if (entry.isFile) {
            var file = await new Promise(function (resolve, reject) { entry.file(resolve, reject); });
            out.push({ file: file, path: path.indexOf("/") >= 0 ? path : "" });
        } else if (entry.isDirectory) {
            var children = await readAll(entry.createReader());
            for (var i = 0; i < children.length; i++) await walk(children[i], out);
        }
    }

    // The items of a drop; folders with everything in them. The entries
    // are taken while the drop event lasts, read afterwards.
    function fromDrop(data) {
        var entries = [], files = [];
        var items = data && data.items ? Array.prototype.slice.call(data.items) : [];
        items.forEach(function (item) {
            if (item.kind !== "file") return;
            var entry = item.webkitGetAsEntry ? item.webkitGetAsEntry() : null;
            if (entry && entry.isDirectory) entries.push(entry);
            else {
                var file = item.getAsFile();
                if (file) files.push({ file: file, path: "" });
            }
        });
        if (!items.length && data && data.files) files = fromList(data.files);
        return (async function () {
            var out = files.slice();
            for (var i = 0; i < entries.length; i++) await walk(entries[i], out);
            return out;
        })();
    }

    function carriesFiles(event) {
        var types = event.dataTransfer && event.dataTransfer.types;
        return !!types && Array.prototype.indexOf.call(types, "Files") >= 0;
    }

    // --- The share page's panel.

    function el(tag, className, text) {
        var node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined) node.textContent = text;
        return node;
    }

    function SharePanel(panel) {
        var self = this;
        this.panel = panel;
        this.list = panel.querySelector(".upl-list");
        this.total = panel.querySelector(".upl-total");
        this.cancelButton = panel.querySelector(".upl-cancel");
        this.rows = {};
        this.uploader = new Uploader({
            url: panel.getAttribute("data-upload-url"),
            onChange: function () { self.render(); },
            onIdle: function (u) { self.idle(u); }
        });
        Array.prototype.forEach.call(panel.querySelectorAll("input[type=file]"), function (input) {
            input.addEventListener("change", function () {
                var items = fromList(input.files);
                input.value = "";
                if (items.length) self.uploader.add(items);
            });
        });
        if (this.cancelButton) this.cancelButton.addEventListener("click", function () { self.uploader.cancelAll(); });
        this.watchDrops();
        this.render();
    }

    SharePanel.prototype.open = function () {
        var link = document.getElementById("swfcontent_link");
        if (this.panel.style.display !== "block") {
            this.panel.style.display = "block";
            if (link) link.style.display = "none";
        }
    };

    SharePanel.prototype.watchDrops = function () {
        var self = this, depth = 0, root = document.documentElement;
        function active(on) { root.classList.toggle("swfupload-dragging", on); }
        root.addEventListener("dragenter", function (e) {
            if (!carriesFiles(e)) return;
            e.preventDefault();
            depth++;
            active(true);
        });
        root.addEventListener("dragover", function (e) {
            if (!carriesFiles(e)) return;
            e.preventDefault();
            e.dataTransfer.dropEffect = "copy";
        });
        root.addEventListener("dragleave", function (e) {
            if (!carriesFiles(e)) return;
            depth = Math.max(0, depth - 1);
            if (!depth) active(false);
        });
        root.addEventListener("drop", function (e) {
            if (!carriesFiles(e)) return;
            e.preventDefault();
            depth = 0;
            active(false);
            self.open();
            fromDrop(e.dataTransfer).then(function (items) {
                if (items.length) self.uploader.add(items);
            }, function () {
                self.total.textContent = "The dropped folder could not be read.";
            });
        });
    };

    SharePanel.prototype.row = function (item) {
        var row = this.rows[item.id], uploader = this.uploader;
        if (row) return row;
        row = { wrapper: el("div", "progressWrapper") };
        row.box = row.wrapper.appendChild(el("div", "progressContainer"));
        row.cancel = row.box.appendChild(el("a", "progressCancel", "\u00d7"));
        row.cancel.href = "#";
        row.cancel.title = "Cancel";
        row.cancel.setAttribute("aria-label", "Cancel upload");
        row.cancel.addEventListener("click", function (e) { e.preventDefault(); uploader.cancel(item); });
        row.name = row.box.appendChild(el("div", "progressName", item.name));
        row.name.title = item.name;
        var track = row.box.appendChild(el("div", "progressBarTrack"));
        row.bar = track.appendChild(el("div", "progressBarInProgress"));
        row.status = row.box.appendChild(el("div", "progressBarStatus"));
        row.retry = row.box.appendChild(el("button", "upl-retry", "Retry"));
        row.retry.type = "button";
        row.retry.addEventListener("click", function () { uploader.retry(item); });
        this.list.appendChild(row.wrapper);
        this.rows[item.id] = row;
        return row;
    };

    SharePanel.prototype.render = function () {
        var u = this.uploader, t = u.totals(), self = this;
        u.items.forEach(function (item) {
            var row = self.row(item);
            var percent = item.size ? Math.floor(100 * (item.state === "done" ? item.size : item.sent) / item.size)
                : (item.state === "done" ? 100 : 0);
            row.bar.style.width = percent + "%";
            row.bar.setAttribute("data-percent", String(percent));
            row.bar.className = item.state === "done" ? "progressBarComplete"
                : item.state === "failed" ? "progressBarError" : "progressBarInProgress";
            row.box.className = "progressContainer" + (item.state === "failed" ? " red"
                : item.state === "done" ? " green" : item.state === "uploading" ? " blue" : "");
            row.cancel.style.visibility = item.state === "queued" || item.state === "uploading" ? "visible" : "hidden";
            row.retry.hidden = item.state !== "failed";
            var text;
            if (item.state === "queued") text = "Pending\u2026";
            else if (item.state === "done") text = "Complete. " + describe(item.size);
            else if (item.state === "cancelled") text = "Cancelled";
            else if (item.state === "failed") text = "Upload failed: " + item.message;
            else {
                text = item.message || ("Uploading\u2026 " + percent + "% \u00b7 " + describe(item.sent) +
                    " of " + describe(item.size) + (t.speed > 0 ? " \u00b7 " + describe(t.speed) + "/s" : ""));
            }
            row.status.textContent = text;
        });
        this.renderUnfinished();
        if (this.cancelButton) this.cancelButton.disabled = !t.active;
        if (u.running && t.files) {
            var percent = t.bytes ? Math.floor(100 * t.sent / t.bytes) : 0;
            this.total.textContent = "Uploading " + (t.done + 1 <= t.files ? t.done + 1 : t.files) + " of " +
                t.files + (t.files === 1 ? " file" : " files") + " \u00b7 " + percent + "% of " + describe(t.bytes) +
                (t.speed > 0 ? " \u00b7 " + describe(t.speed) + "/s" : "") +
                (t.left >= 0 ? " \u00b7 " + formatTime(t.left) + " left" : "");
        } else {
            this.total.textContent = t.done + (t.done === 1 ? " File Uploaded" : " Files Uploaded") +
                (t.failed ? ", " + t.failed + " failed" : "");
        }
    };

    // What a reload left unfinished here: the visitor chooses the same file
    // again to go on, or lets it go.
    SharePanel.prototype.renderUnfinished = function () {
        var box = this.panel.querySelector(".upl-unfinished"), u = this.uploader;
        var left = u.unfinished();
        var shown = JSON.stringify(left);
        if (shown === this.unfinishedShown) return;
        this.unfinishedShown = shown;
        if (!box) {
            if (!left.length) return;
            box = el("div", "upl-unfinished");
            this.list.parentNode.insertBefore(box, this.list);
        }
        while (box.firstChild) box.removeChild(box.firstChild);
        box.hidden = !left.length;
        left.forEach(function (entry) {
            var line = box.appendChild(el("div", "upl-unfinished-line"));
            line.appendChild(el("span", "", "Not finished: " + entry.name + " (" +
                (entry.size ? Math.floor(100 * entry.offset / entry.size) : 0) +
                "%). Choose it again to go on. "));
            var forget = line.appendChild(el("button", "upl-forget", "Forget"));
            forget.type = "button";
            forget.addEventListener("click", function () { u.forget(entry.key); });
        });
    };

    SharePanel.prototype.idle = function (u) {
        var t = u.totals();
        // With every file in place the folder is shown again with them;
        // after a failure the panel stays so its lines can be read.
        if (t.done > 0 && !t.failed && !t.active) window.location.reload();
    };

    window.OrvaneUpload = {
        Uploader: Uploader, SharePanel: SharePanel, fromList: fromList, fromDrop: fromDrop,
        carriesFiles: carriesFiles, describe: describe, formatTime: formatTime
    };

    // The share page: the panel names its upload address. The page's head
    // still builds the old multipart widget on load, which would take every
    // drop a second time; this panel takes its place.
    var panel = document.getElementById("swf_content");
    if (panel && panel.getAttribute("data-upload-url")) {
        window.SWFUpload = function () {};
        window.SWFUpload.prototype.cancelQueue = function () {};
        window.OrvaneUpload.panel = new SharePanel(panel);
    }
})(window, document);
