/*
 * The share pages' upload widget: an HTML5 uploader with the programming
 * interface the pages are written against (new SWFUpload(settings), the
 * handler settings, startUpload, cancelUpload, getStats ...). Files are sent
 * one at a time with XMLHttpRequest as multipart/form-data POSTs to
 * settings.upload_url. The button replaces the element named by
 * button_placeholder_id; files can also be dropped onto the page.
 *
 * Handlers are called with the uploader as `this`, in the order and with
 * the arguments the settings' handler names promise:
 *   file_queued_handler(file), file_queue_error_handler(file, code, message),
 *   file_dialog_complete_handler(selected, queued, totalQueued),
 *   upload_start_handler(file) (returning false skips the file),
 *   upload_progress_handler(file, bytesLoaded, bytesTotal),
 *   upload_error_handler(file, code, message),
 *   upload_success_handler(file, serverData, receivedResponse),
 *   upload_complete_handler(file).
 */
(function (window, document) {
    "use strict";

    var counter = 0;

    function SWFUpload(settings) {
        this.settings = {};
        this.customSettings = {};
        this.files = {};
        this.queue = [];
        this.current = null;
        this.stats = {
            in_progress: 0, files_queued: 0, successful_uploads: 0,
            upload_errors: 0, upload_cancelled: 0, queue_errors: 0
        };
        this.movieName = "SWFUpload_" + (counter++);
        this.initSettings(settings || {});
        SWFUpload.instances[this.movieName] = this;
        var self = this;
        if (document.readyState === "loading") {
            document.addEventListener("DOMContentLoaded", function () { self.build(); });
        } else {
            this.build();
        }
    }

    SWFUpload.version = "html5";
    SWFUpload.instances = {};

    SWFUpload.QUEUE_ERROR = {
        QUEUE_LIMIT_EXCEEDED: -100, FILE_EXCEEDS_SIZE_LIMIT: -110,
        ZERO_BYTE_FILE: -120, INVALID_FILETYPE: -130
    };
    SWFUpload.UPLOAD_ERROR = {
        HTTP_ERROR: -200, MISSING_UPLOAD_URL: -210, IO_ERROR: -220, SECURITY_ERROR: -230,
        UPLOAD_LIMIT_EXCEEDED: -240, UPLOAD_FAILED: -250, SPECIFIED_FILE_ID_NOT_FOUND: -260,
        FILE_VALIDATION_FAILED: -270, FILE_CANCELLED: -280, UPLOAD_STOPPED: -290
    };
    SWFUpload.FILE_STATUS = {
        QUEUED: -1, IN_PROGRESS: -2, ERROR: -3, COMPLETE: -4, CANCELLED: -5
    };

    // "10 MB", "500 KB", "2 GB", a plain number (KB) or 0 for no limit.
    SWFUpload.parseSize = function (text) {
        var m = String(text || "0").match(/^\s*([\d.]+)\s*(B|KB|MB|GB)?\s*$/i);
        if (!m) return 0;
        var unit = (m[2] || "KB").toUpperCase();
        var factor = { B: 1, KB: 1024, MB: 1048576, GB: 1073741824 }[unit];
        return Math.floor(parseFloat(m[1]) * factor);
    };

    var DEFAULTS = {
        upload_url: "", file_post_name: "Filedata", post_params: {},
        use_query_string: false, http_success: [],
        file_types: "*.*", file_types_description: "All Files",
        file_size_limit: 0, file_upload_limit: 0, file_queue_limit: 0,
        button_placeholder_id: "", button_placeholder: null, button_text: "Upload",
        button_width: 0, button_height: 0, button_disabled: false,
        button_action: -110 /* select files */, debug: false, custom_settings: {},
        drop_target: null /* an element or its id; the whole page when unset */
    };

    SWFUpload.prototype.initSettings = function (given) {
        var key;
        for (key in DEFAULTS) this.settings[key] = DEFAULTS[key];
        for (key in given) this.settings[key] = given[key];
        this.customSettings = this.settings.custom_settings || {};
    };

    SWFUpload.prototype.setUploadURL = function (url) { this.settings.upload_url = url; };
    SWFUpload.prototype.setPostParams = function (params) { this.settings.post_params = params || {}; };
    SWFUpload.prototype.addPostParam = function (name, value) { this.settings.post_params[name] = value; };
    SWFUpload.prototype.removePostParam = function (name) { delete this.settings.post_params[name]; };
    SWFUpload.prototype.setFileSizeLimit = function (limit) { this.settings.file_size_limit = limit; };
    SWFUpload.prototype.setFileTypes = function (types, description) {
        this.settings.file_types = types;
        this.settings.file_types_description = description;
        if (this.input) this.input.accept = acceptList(types);
    };
    SWFUpload.prototype.setButtonDisabled = function (disabled) {
        this.settings.button_disabled = !!disabled;
        if (this.button) this.button.disabled = !!disabled;
    };
    SWFUpload.prototype.getStats = function () {
        var copy = {};
        for (var key in this.stats) copy[key] = this.stats[key];
        return copy;
    };
    SWFUpload.prototype.setStats = function (stats) {
        for (var key in stats) if (key in this.stats) this.stats[key] = stats[key];
    };
    SWFUpload.prototype.getFile = function (idOrIndex) {
        if (typeof idOrIndex === "number") {
            for (var id in this.files) if (this.files[id].index === idOrIndex) return this.files[id];
            return null;
        }
        return this.files[idOrIndex] || null;
    };
    SWFUpload.prototype.debug = function (message) {
        if (this.settings.debug && window.console) window.console.log("SWFUpload: " + message);
    };

    // "*.jpg;*.png" -> ".jpg,.png"; "*.*" -> no restriction.
    function acceptList(types) {
        if (!types || types === "*.*" || types === "*") return "";
        return types.split(";").map(function (t) { return t.replace(/^\s*\*/, "").trim(); })
            .filter(function (t) { return t && t !== ".*"; }).join(",");
    }

    function typeAllowed(name, types) {
        var accept = acceptList(types);
        if (!accept) return true;
        var lower = name.toLowerCase();
        return accept.split(",").some(function (ext) {
            return lower.slice(-ext.length) === ext.toLowerCase();
        });
    }

    // The button's label: the settings' button text without its markup.
    function buttonLabel(text) {
        var holder = document.createElement("div");
        holder.innerHTML = String(text || "");
        return (holder.textContent || "").trim() || "Select files";
    }

    SWFUpload.prototype.build = function () {
        var s = this.settings, self = this;
        var placeholder = s.button_placeholder ||
            (s.button_placeholder_id ? document.getElementById(s.button_placeholder_id) : null);

        this.input = document.createElement("input");
        this.input.type = "file";
        this.input.multiple = s.file_queue_limit !== 1;
        this.input.accept = acceptList(s.file_types);
        this.input.style.display = "none";
        this.input.addEventListener("change", function () {
            self.addFiles(self.input.files);
            self.input.value = "";
        });

        if (placeholder) {
            this.button = document.createElement("button");
            this.button.type = "button";
            this.button.id = this.movieName;
            this.button.className = "swfupload-button";
            this.button.textContent = buttonLabel(s.button_text);
            this.button.disabled = !!s.button_disabled;
            if (parseInt(s.button_width, 10) > 0) this.button.style.minWidth = parseInt(s.button_width, 10) + "px";
            if (parseInt(s.button_height, 10) > 0) this.button.style.minHeight = parseInt(s.button_height, 10) + "px";
            this.button.addEventListener("click", function () { self.selectFiles(); });
            placeholder.parentNode.replaceChild(this.button, placeholder);
            this.button.parentNode.insertBefore(this.input, this.button.nextSibling);
        } else {
            document.body.appendChild(this.input);
        }
        this.buildDropTarget();
        this.callHandler("swfupload_loaded_handler", []);
    };

    SWFUpload.prototype.selectFiles = function () {
        if (!this.settings.button_disabled) this.input.click();
    };
    SWFUpload.prototype.selectFile = SWFUpload.prototype.selectFiles;

    function carriesFiles(event) {
        var types = event.dataTransfer && event.dataTransfer.types;
        if (!types) return false;
        for (var i = 0; i < types.length; i++) if (types[i] === "Files") return true;
        return false;
    }

    SWFUpload.prototype.buildDropTarget = function () {
        var s = this.settings, self = this;
        var target = typeof s.drop_target === "string" ? document.getElementById(s.drop_target)
            : (s.drop_target || document.documentElement);
        if (!target) return;
        var depth = 0;
        function setActive(on) {
            if (on) document.documentElement.classList.add("swfupload-dragging");
            else document.documentElement.classList.remove("swfupload-dragging");
        }
        target.addEventListener("dragenter", function (e) {
            if (!carriesFiles(e) || s.button_disabled) return;
            e.preventDefault();
            depth++;
            setActive(true);
        });
        target.addEventListener("dragover", function (e) {
            if (!carriesFiles(e) || s.button_disabled) return;
            e.preventDefault();
            e.dataTransfer.dropEffect = "copy";
        });
        target.addEventListener("dragleave", function (e) {
            if (!carriesFiles(e)) return;
            depth = Math.max(0, depth - 1);
            if (depth === 0) setActive(false);
        });
        target.addEventListener("drop", function (e) {
            if (!carriesFiles(e)) return;
            e.preventDefault();
            depth = 0;
            setActive(false);
            if (!s.button_disabled) self.addFiles(e.dataTransfer.files);
        });
    };

    // Queues what the dialog or a drop delivered, checking the limits.
    SWFUpload.prototype.addFiles = function (list) {
        var s = this.settings, queued = 0, selected = list ? list.length : 0;
        var sizeLimit = SWFUpload.parseSize(s.file_size_limit);
        var uploadLimit = parseInt(s.file_upload_limit, 10) || 0;
        var queueLimit = parseInt(s.file_queue_limit, 10) || 0;
        for (var i = 0; i < selected; i++) {
            var file = this.describe(list[i]);
            var used = this.stats.successful_uploads + this.stats.files_queued + this.stats.in_progress;
            if (uploadLimit && used >= uploadLimit) {
                this.queueError(file, SWFUpload.QUEUE_ERROR.QUEUE_LIMIT_EXCEEDED,
                    String(Math.max(0, uploadLimit - used)));
            } else if (queueLimit && this.stats.files_queued >= queueLimit) {
                this.queueError(file, SWFUpload.QUEUE_ERROR.QUEUE_LIMIT_EXCEEDED, String(queueLimit));
            } else if (sizeLimit && file.size > sizeLimit) {
                this.queueError(file, SWFUpload.QUEUE_ERROR.FILE_EXCEEDS_SIZE_LIMIT, "File is too big.");
            } else if (file.size === 0) {
                this.queueError(file, SWFUpload.QUEUE_ERROR.ZERO_BYTE_FILE, "File is empty.");
            } else if (!typeAllowed(file.name, s.file_types)) {
                this.queueError(file, SWFUpload.QUEUE_ERROR.INVALID_FILETYPE, "Invalid file type.");
            } else {
                file.filestatus = SWFUpload.FILE_STATUS.QUEUED;
                this.files[file.id] = file;
                this.queue.push(file);
                this.stats.files_queued++;
                queued++;
                this.callHandler("file_queued_handler", [file]);
            }
        }
        this.callHandler("file_dialog_complete_handler", [selected, queued, this.stats.files_queued]);
    };

    SWFUpload.prototype.describe = function (blob) {
        var index = this.nextIndex = (this.nextIndex || 0) + 1;
        var modified = blob.lastModified ? new Date(blob.lastModified) : new Date();
        return {
            id: this.movieName + "_" + (index - 1), index: index - 1, name: blob.name,
            size: blob.size, type: blob.type || "", creationdate: modified,
            modificationdate: modified, filestatus: SWFUpload.FILE_STATUS.QUEUED,
            blob: blob
        };
    };

    SWFUpload.prototype.queueError = function (file, code, message) {
        file.filestatus = SWFUpload.FILE_STATUS.ERROR;
        this.stats.queue_errors++;
        this.callHandler("file_queue_error_handler", [file, code, message]);
    };

    // Starts the given queued file, or the first in the queue.
    SWFUpload.prototype.startUpload = function (fileId) {
        if (this.current) return;
        var file = null, i;
        for (i = 0; i < this.queue.length; i++) {
            if (!fileId || this.queue[i].id === fileId) { file = this.queue[i]; break; }
        }
        if (!file) {
            if (fileId) {
                this.callHandler("upload_error_handler", [{ id: fileId, name: "" },
                    SWFUpload.UPLOAD_ERROR.SPECIFIED_FILE_ID_NOT_FOUND, "File ID not found"]);
            }
            return;
        }
        this.queue.splice(i, 1);
        this.stats.files_queued--;
        if (!this.settings.upload_url) {
            this.finishWithError(file, SWFUpload.UPLOAD_ERROR.MISSING_UPLOAD_URL, "Upload URL string is empty.");
            return;
        }
        this.current = file;
        this.stats.in_progress = 1;
        file.filestatus = SWFUpload.FILE_STATUS.IN_PROGRESS;
        if (this.callHandler("upload_start_handler", [file]) === false) {
            this.current = null;
            this.stats.in_progress = 0;
            this.finishWithError(file, SWFUpload.UPLOAD_ERROR.FILE_VALIDATION_FAILED, "Upload refused by the page.");
            return;
        }
        this.send(file);
    };

    SWFUpload.prototype.send = function (file) {
        var s = this.settings, self = this, url = s.upload_url, key;
        var form = new FormData();
        var params = s.post_params || {};
        if (s.use_query_string) {
            var pairs = [];
            for (key in params) pairs.push(encodeURIComponent(key) + "=" + encodeURIComponent(params[key]));
            if (pairs.length) url += (url.indexOf("?") < 0 ? "?" : "&") + pairs.join("&");
        } else {
            for (key in params) form.append(key, params[key]);
        }
        form.append("Filename", file.name);
        form.append(s.file_post_name || "Filedata", file.blob, file.name);

        var xhr = new XMLHttpRequest();
        file.xhr = xhr;
        xhr.open("POST", url, true);
        xhr.upload.addEventListener("progress", function (e) {
            if (self.current !== file) return;
            var total = e.lengthComputable ? e.total : file.size;
            self.callHandler("upload_progress_handler", [file, Math.min(e.loaded, total), total]);
        });
        xhr.addEventListener("load", function () {
            if (self.current !== file) return;
            var ok = (xhr.status >= 200 && xhr.status < 300) ||
                (s.http_success || []).indexOf(xhr.status) >= 0;
            if (ok) {
                self.callHandler("upload_progress_handler", [file, file.size, file.size]);
                self.finishWithSuccess(file, xhr.responseText);
            } else {
                self.finishWithError(file, SWFUpload.UPLOAD_ERROR.HTTP_ERROR, String(xhr.status));
            }
        });
        xhr.addEventListener("error", function () {
            if (self.current === file) self.finishWithError(file, SWFUpload.UPLOAD_ERROR.IO_ERROR, "Network error");
        });
        xhr.send(form);
    };

    SWFUpload.prototype.finishWithSuccess = function (file, body) {
        this.current = null;
        this.stats.in_progress = 0;
        this.stats.successful_uploads++;
        file.filestatus = SWFUpload.FILE_STATUS.COMPLETE;
        file.xhr = null;
        this.callHandler("upload_success_handler", [file, body, true]);
        this.callHandler("upload_complete_handler", [file]);
    };

    SWFUpload.prototype.finishWithError = function (file, code, message) {
        if (this.current === file) {
            this.current = null;
            this.stats.in_progress = 0;
        }
        if (code === SWFUpload.UPLOAD_ERROR.FILE_CANCELLED) {
            this.stats.upload_cancelled++;
            file.filestatus = SWFUpload.FILE_STATUS.CANCELLED;
        } else if (code === SWFUpload.UPLOAD_ERROR.UPLOAD_STOPPED) {
            file.filestatus = SWFUpload.FILE_STATUS.QUEUED;
        } else {
            this.stats.upload_errors++;
            file.filestatus = SWFUpload.FILE_STATUS.ERROR;
        }
        file.xhr = null;
        this.callHandler("upload_error_handler", [file, code, message]);
        this.callHandler("upload_complete_handler", [file]);
    };

    // Cancels the given file (queued or uploading), or the current/first one.
    SWFUpload.prototype.cancelUpload = function (fileId, triggerErrorEvent) {
        var file = null, i;
        if (!fileId && this.current) fileId = this.current.id;
        if (this.current && this.current.id === fileId) {
            file = this.current;
            if (file.xhr) file.xhr.abort();
        } else {
            for (i = 0; i < this.queue.length; i++) {
                if (!fileId || this.queue[i].id === fileId) {
                    file = this.queue.splice(i, 1)[0];
                    this.stats.files_queued--;
                    break;
                }
            }
        }
        if (!file) return;
        if (triggerErrorEvent === false) {
            if (this.current === file) { this.current = null; this.stats.in_progress = 0; }
            this.stats.upload_cancelled++;
            file.filestatus = SWFUpload.FILE_STATUS.CANCELLED;
            return;
        }
        this.finishWithError(file, SWFUpload.UPLOAD_ERROR.FILE_CANCELLED, "File Cancelled");
    };

    // Stops the current upload; the file goes back to the head of the queue.
    SWFUpload.prototype.stopUpload = function () {
        var file = this.current;
        if (!file) return;
        if (file.xhr) file.xhr.abort();
        this.queue.unshift(file);
        this.stats.files_queued++;
        this.finishWithError(file, SWFUpload.UPLOAD_ERROR.UPLOAD_STOPPED, "File Stopped");
    };

    SWFUpload.prototype.requeueUpload = function (fileId) {
        var file = this.files[fileId];
        if (!file || file === this.current || this.queue.indexOf(file) >= 0) return false;
        file.filestatus = SWFUpload.FILE_STATUS.QUEUED;
        this.queue.push(file);
        this.stats.files_queued++;
        return true;
    };

    SWFUpload.prototype.callHandler = function (name, args) {
        var handler = this.settings[name];
        if (typeof handler !== "function") return undefined;
        try {
            return handler.apply(this, args);
        } catch (e) {
            // A failing page handler must not stop the queue; report it.
            if (window.console) window.console.warn("SWFUpload " + name + ": " + e);
            return undefined;
        }
    };

    SWFUpload.prototype.destroy = function () {
        this.cancelQueue && this.cancelQueue();
        if (this.button && this.button.parentNode) this.button.parentNode.removeChild(this.button);
        if (this.input && this.input.parentNode) this.input.parentNode.removeChild(this.input);
        delete SWFUpload.instances[this.movieName];
        return true;
    };

    window.SWFUpload = SWFUpload;
})(window, document);
