/*
 * Queue behaviour for the upload widget: after each file the next queued
 * one starts by itself, cancelQueue() stops and cancels everything, and
 * queue_complete_handler(filesUploaded) is called once the queue has run
 * dry. The page's own upload_start and upload_complete handlers still run
 * first.
 */
(function (SWFUpload) {
    "use strict";
    if (typeof SWFUpload !== "function") return;

    var baseInit = SWFUpload.prototype.initSettings;

    SWFUpload.prototype.initSettings = function (given) {
        baseInit.call(this, given);
        var s = this.settings;
        this.queueSettings = {
            cancelling: false,
            uploadCount: 0,
            userUploadStart: s.upload_start_handler,
            userUploadComplete: s.upload_complete_handler,
            queueComplete: s.queue_complete_handler
        };
        s.upload_start_handler = queueUploadStart;
        s.upload_complete_handler = queueUploadComplete;
    };

    function queueUploadStart(file) {
        var q = this.queueSettings;
        if (typeof q.userUploadStart === "function") return q.userUploadStart.call(this, file);
        return true;
    }

    function queueUploadComplete(file) {
        var q = this.queueSettings;
        if (file.filestatus === SWFUpload.FILE_STATUS.COMPLETE) q.uploadCount++;
        if (typeof q.userUploadComplete === "function") {
            try {
                q.userUploadComplete.call(this, file);
            } catch (e) {
                if (window.console) window.console.warn("upload_complete_handler: " + e);
            }
        }
        if (file.filestatus === SWFUpload.FILE_STATUS.QUEUED) return;  // stopped, not finished
        if (q.cancelling) return;
        if (this.getStats().files_queued > 0) {
            var self = this;
            // Let the handlers of this file finish before the next one starts.
            window.setTimeout(function () { self.startUpload(); }, 0);
        } else if (!this.current) {
            var count = q.uploadCount;
            q.uploadCount = 0;
            if (typeof q.queueComplete === "function") q.queueComplete.call(this, count);
        }
    }

    SWFUpload.prototype.cancelQueue = function () {
        var q = this.queueSettings;
        q.cancelling = true;
        while (this.getStats().files_queued > 0) this.cancelUpload(this.queue[0].id);
        if (this.current) this.cancelUpload(this.current.id);
        q.cancelling = false;
        var count = q.uploadCount;
        q.uploadCount = 0;
        if (typeof q.queueComplete === "function") q.queueComplete.call(this, count);
    };
})(window.SWFUpload);
