/*
 * Effects for the gallery's lightbox (window.LightboxKit.fx): fades and an
 * image preloader, built on CSS transitions. Visitors who ask for reduced
 * motion get the end state at once.
 */
(function (window) {
    "use strict";

    var kit = window.LightboxKit = window.LightboxKit || {};
    var reduced = window.matchMedia && window.matchMedia("(prefers-reduced-motion: reduce)").matches;

    function fade(el, to, ms, done) {
        if (reduced || !ms) {
            el.style.opacity = String(to);
            if (done) done();
            return;
        }
        el.style.transition = "opacity " + ms + "ms ease";
        // Reading a layout value commits the start opacity before the change.
        void el.offsetWidth;
        el.style.opacity = String(to);
        var finished = false;
        function end() {
            if (finished) return;
            finished = true;
            el.removeEventListener("transitionend", end);
            if (done) done();
        }
        el.addEventListener("transitionend", end);
        window.setTimeout(end, ms + 50);  // no transitionend when nothing changed
    }

    kit.fx = {
        fadeIn: function (el, ms, done) { el.style.display = ""; fade(el, 1, ms, done); },
        fadeOut: function (el, ms, done) { fade(el, 0, ms, done); },
        // Loads a picture ahead of time; done(img) or fail() once.
        preload: function (src, done, fail) {
            var img = new window.Image();
            img.onload = function () { if (done) done(img); };
            img.onerror = function () { if (fail) fail(); };
            img.src = src;
            return img;
        }
    };
})(window);
