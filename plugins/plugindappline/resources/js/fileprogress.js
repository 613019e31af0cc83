/*
 * One row per file in the upload panel: name, progress bar, status text and
 * a cancel control. new FileProgress(file, targetId) finds the file's row
 * (by file.id) or adds it to the element targetId. Names are written as
 * text, never as markup.
 */
(function (window, document) {
    "use strict";

    function FileProgress(file, targetId) {
        this.fileProgressID = "fp_" + String(file.id).replace(/[^A-Za-z0-9_-]/g, "_");
        this.wrapper = document.getElementById(this.fileProgressID);
        if (!this.wrapper) {
            this.build(file, document.getElementById(targetId));
        } else {
            this.element = this.wrapper.firstChild;
            this.bar = this.element.querySelector(".progressBarInProgress, .progressBarComplete, .progressBarError");
            this.status = this.element.querySelector(".progressBarStatus");
            this.cancel = this.element.querySelector(".progressCancel");
            this.label = this.element.querySelector(".progressName");
        }
        this.fileId = file.id;
    }

    FileProgress.prototype.build = function (file, target) {
        this.wrapper = document.createElement("div");
        this.wrapper.className = "progressWrapper";
        this.wrapper.id = this.fileProgressID;

        this.element = document.createElement("div");
        this.element.className = "progressContainer";

        this.cancel = document.createElement("a");
        this.cancel.className = "progressCancel";
        this.cancel.href = "#";
        this.cancel.title = "Cancel";
        this.cancel.setAttribute("aria-label", "Cancel upload");
        this.cancel.textContent = "\u00d7";
        this.cancel.style.visibility = "hidden";

        this.label = document.createElement("div");
        this.label.className = "progressName";
        this.label.textContent = file.name;
        this.label.title = file.name;

        var track = document.createElement("div");
        track.className = "progressBarTrack";
        this.bar = document.createElement("div");
        this.bar.className = "progressBarInProgress";
        this.bar.style.width = "0%";
        track.appendChild(this.bar);

        this.status = document.createElement("div");
        this.status.className = "progressBarStatus";
        this.status.innerHTML = "&nbsp;";

        this.element.appendChild(this.cancel);
        this.element.appendChild(this.label);
        this.element.appendChild(track);
        this.element.appendChild(this.status);
        this.wrapper.appendChild(this.element);
        if (target) target.appendChild(this.wrapper);
    };

    FileProgress.prototype.setTimer = function (timer) {
        this.element["FP_TIMER"] = timer;
    };
    FileProgress.prototype.getTimer = function () {
        return this.element["FP_TIMER"] || null;
    };

    FileProgress.prototype.reset = function () {
        this.element.className = "progressContainer";
        this.bar.className = "progressBarInProgress";
        this.bar.style.width = "0%";
        this.status.innerHTML = "&nbsp;";
        this.appear();
    };

    FileProgress.prototype.setProgress = function (percentage) {
        var p = Math.max(0, Math.min(100, Math.round(percentage)));
        this.element.className = "progressContainer green";
        this.bar.className = "progressBarInProgress";
        this.bar.style.width = p + "%";
        this.bar.setAttribute("data-percent", String(p));
        this.appear();
    };

    FileProgress.prototype.setComplete = function () {
        this.element.className = "progressContainer blue";
        this.bar.className = "progressBarComplete";
        this.bar.style.width = "100%";
        this.toggleCancel(false);
    };

    FileProgress.prototype.setError = function () {
        this.element.className = "progressContainer red";
        this.bar.className = "progressBarError";
        this.bar.style.width = "100%";
        this.toggleCancel(false);
    };

    FileProgress.prototype.setCancelled = function () {
        this.element.className = "progressContainer";
        this.bar.className = "progressBarError";
        this.bar.style.width = "0%";
        this.toggleCancel(false);
        this.disappear(2000);
    };

    FileProgress.prototype.setStatus = function (text) {
        this.status.textContent = text;
    };

    // Shows the cancel control; a click cancels this file's upload.
    FileProgress.prototype.toggleCancel = function (show, uploader) {
        this.cancel.style.visibility = show ? "visible" : "hidden";
        var fileId = this.fileId;
        if (uploader) {
            this.cancel.onclick = function () {
                uploader.cancelUpload(fileId);
                return false;
            };
        }
    };

    FileProgress.prototype.appear = function () {
        var timer = this.getTimer();
        if (timer) window.clearTimeout(timer);
        this.setTimer(null);
        this.wrapper.style.opacity = "1";
        this.wrapper.style.display = "";
    };

    // Fades the row out after a moment (the finished rows of a long queue).
    FileProgress.prototype.disappear = function (delay) {
        var self = this;
        var timer = this.getTimer();
        if (timer) window.clearTimeout(timer);
        this.setTimer(window.setTimeout(function () {
            self.wrapper.style.opacity = "0";
            self.setTimer(window.setTimeout(function () {
                self.wrapper.style.display = "none";
            }, 400));
        }, delay || 0));
    };

    window.FileProgress = FileProgress;
})(window, document);
