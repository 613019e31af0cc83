/*
 * The share pages' upload handlers, named in the page's upload settings.
 * They keep the upload panel ("swf_content") open while files are queued,
 * show one progress row per file, count finished files in "divStatus",
 * enable "Cancel All Uploads" while something is queued, and reload the
 * page once every file of the queue has arrived so that the new files are
 * listed.
 */
(function (window, document) {
    "use strict";

    // Every share page loads this script in its head. The pages' head names
    // no viewport, so phones would lay them out 980 pixels wide; a viewport
    // added before the first layout makes them use the screen's width.
    if (document.head && !document.querySelector("meta[name='viewport']")) {
        var viewport = document.createElement("meta");
        viewport.name = "viewport";
        viewport.content = "width=device-width, initial-scale=1";
        document.head.appendChild(viewport);
    }

    function byId(id) {
        return id ? document.getElementById(id) : null;
    }

    function cancelButton(uploader) {
        return byId(uploader.customSettings.cancelButtonId);
    }

    function setCancelEnabled(uploader, enabled) {
        var button = cancelButton(uploader);
        if (button) button.disabled = !enabled;
    }

    function setStatus(text) {
        var status = byId("divStatus");
        if (status) status.textContent = text;
    }

    function countText(n) {
        return n + (n === 1 ? " File Uploaded" : " Files Uploaded");
    }

    // Files dropped while the panel is closed open it, as the link would.
    function openPanel() {
        var panel = byId("swf_content"), link = byId("swfcontent_link");
        if (panel && panel.style.display !== "block") {
            panel.style.display = "block";
            if (link) link.style.display = "none";
        }
    }

    function progressOf(file, uploader) {
        return new window.FileProgress(file, uploader.customSettings.progressTarget);
    }

    window.fileQueued = function (file) {
        openPanel();
        var progress = progressOf(file, this);
        progress.setStatus("Pending\u2026");
        progress.toggleCancel(true, this);
    };

    window.fileQueueError = function (file, errorCode, message) {
        openPanel();
        var progress = progressOf(file, this);
        progress.setError();
        var E = window.SWFUpload.QUEUE_ERROR;
        switch (errorCode) {
            case E.FILE_EXCEEDS_SIZE_LIMIT:
                progress.setStatus("File is too big.");
                break;
            case E.ZERO_BYTE_FILE:
                progress.setStatus("Cannot upload an empty file.");
                break;
            case E.INVALID_FILETYPE:
                progress.setStatus("This type of file is not accepted.");
                break;
            case E.QUEUE_LIMIT_EXCEEDED:
                progress.setStatus("Too many files at once.");
                break;
            default:
                progress.setStatus("Cannot add this file: " + message);
        }
        this.queueErrorsSeen = true;
    };

    window.fileDialogComplete = function (selected, queued) {
        if (queued > 0) {
            setCancelEnabled(this, true);
            this.queueErrorsSeen = this.queueErrorsSeen || queued < selected;
            this.startUpload();
        }
    };

    window.uploadStart = function (file) {
        var progress = progressOf(file, this);
        progress.setStatus("Uploading\u2026");
        progress.toggleCancel(true, this);
        return true;
    };

    window.uploadProgress = function (file, bytesLoaded, bytesTotal) {
        var percent = bytesTotal > 0 ? (bytesLoaded / bytesTotal) * 100 : 100;
        var progress = progressOf(file, this);
        progress.setProgress(percent);
        progress.setStatus("Uploading\u2026 " + Math.round(percent) + "%");
    };

    window.uploadSuccess = function (file) {
        var progress = progressOf(file, this);
        progress.setComplete();
        progress.setStatus("Complete.");
        progress.toggleCancel(false);
    };

    window.uploadError = function (file, errorCode, message) {
        var progress = progressOf(file, this);
        var E = window.SWFUpload.UPLOAD_ERROR;
        if (errorCode === E.FILE_CANCELLED) {
            progress.setCancelled();
            progress.setStatus("Cancelled");
            return;
        }
        if (errorCode === E.UPLOAD_STOPPED) {
            progress.setStatus("Stopped");
            return;
        }
        progress.setError();
        this.uploadErrorsSeen = true;
        if (errorCode === E.HTTP_ERROR) {
            var reasons = {
                "401": "Please sign in to upload.",
                "403": "Uploading here is not allowed.",
                "413": "The file is larger than this share allows.",
                "507": "There is not enough space for this file."
            };
            progress.setStatus(reasons[message] || "Upload failed (error " + message + ").");
        } else if (errorCode === E.IO_ERROR) {
            progress.setStatus("Upload failed: the connection was lost.");
        } else {
            progress.setStatus("Upload failed: " + message);
        }
    };

    window.uploadComplete = function () {
        var stats = this.getStats();
        setStatus(countText(stats.successful_uploads));
        if (stats.files_queued === 0) setCancelEnabled(this, false);
    };

    window.queueComplete = function (filesUploaded) {
        var stats = this.getStats();
        setStatus(countText(stats.successful_uploads));
        setCancelEnabled(this, false);
        var clean = !this.uploadErrorsSeen && !this.queueErrorsSeen;
        this.uploadErrorsSeen = this.queueErrorsSeen = false;
        // With every file in place the list is shown again with them; after
        // a failure the panel stays so its messages can be read ("Close"
        // reloads then).
        if (filesUploaded > 0 && clean) window.location.reload();
    };
})(window, document);
