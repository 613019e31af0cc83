/*
 * The gallery's lightbox. A click on a link with rel="lightbox" or
 * rel="lightbox[group]" shows its picture (the link's href) over the page,
 * with the group's other pictures a step away: arrow keys, the on-screen
 * buttons, a swipe on touch screens, or a click on the picture. Escape or a
 * click beside the picture closes it; space starts and stops the slideshow.
 *
 *   Lightbox.start(link)       opens the lightbox on that link (null: nothing)
 *   Lightbox.startSlideShow()  advances by itself until stopped or closed
 *   Lightbox.stopSlideShow(), Lightbox.next(), Lightbox.previous(), Lightbox.end()
 *
 * Needs LightboxKit from prototype.js and scriptaculous.js.
 */
(function (window, document) {
    "use strict";

    var kit = window.LightboxKit;
    var options = {
        slideShowDelay: 4000,  // ms a picture stays before the next one
        fadeMs: 250,
        swipeDistance: 40      // px of horizontal travel that counts as a swipe
    };

    var state = {
        built: false, open: false, items: [], index: 0, playing: false,
        timer: null, loading: null, lastFocus: null
    };
    var ui = {};

    function build() {
        if (state.built) return;
        ui.image = kit.build("img", { id: "lightboxImage", className: "lb-image", alt: "" });
        ui.loading = kit.build("div", { className: "lb-loading", role: "status", ariaLabel: "Loading" });
        ui.error = kit.build("div", { className: "lb-error", text: "This picture could not be loaded." });
        ui.prev = kit.build("button", { type: "button", className: "lb-nav lb-prev", title: "Previous (\u2190)", ariaLabel: "Previous picture", text: "\u2039" });
        ui.next = kit.build("button", { type: "button", className: "lb-nav lb-next", title: "Next (\u2192)", ariaLabel: "Next picture", text: "\u203A" });
        ui.stage = kit.build("div", { className: "lb-stage" }, [ui.image, ui.loading, ui.error, ui.prev, ui.next]);

        ui.caption = kit.build("div", { id: "lightboxCaption", className: "lb-caption" });
        ui.counter = kit.build("div", { id: "lightboxNumber", className: "lb-number" });
        ui.play = kit.build("button", { type: "button", id: "lightboxPlay", className: "lb-button lb-play", title: "Slideshow (space)", text: "\u25B6 Slideshow" });
        ui.close = kit.build("button", { type: "button", id: "lightboxClose", className: "lb-button lb-close", title: "Close (Esc)", ariaLabel: "Close", text: "\u2715" });
        ui.bar = kit.build("div", { className: "lb-bar" }, [
            kit.build("div", { className: "lb-text" }, [ui.caption, ui.counter]),
            kit.build("div", { className: "lb-buttons" }, [ui.play, ui.close])
        ]);
        ui.box = kit.build("div", { id: "lightbox", className: "lb-box", role: "dialog", ariaModal: "true", ariaLabel: "Picture viewer", tabindex: "-1" }, [ui.stage, ui.bar]);
        ui.overlay = kit.build("div", { id: "overlay", className: "lb-overlay" }, [ui.box]);
        ui.overlay.style.display = "none";
        document.body.appendChild(ui.overlay);

        kit.on(ui.prev, "click", function (e) { e.stopPropagation(); Lightbox.previous(); });
        kit.on(ui.next, "click", function (e) { e.stopPropagation(); Lightbox.next(); });
        kit.on(ui.image, "click", function (e) { e.stopPropagation(); Lightbox.next(); });
        kit.on(ui.play, "click", function (e) {
            e.stopPropagation();
            if (state.playing) Lightbox.stopSlideShow(); else Lightbox.startSlideShow();
        });
        kit.on(ui.close, "click", function (e) { e.stopPropagation(); Lightbox.end(); });
        kit.on(ui.overlay, "click", function (e) {
            if (e.target === ui.overlay || e.target === ui.stage) Lightbox.end();
        });
        kit.on(ui.image, "load", imageLoaded);
        kit.on(ui.image, "error", imageFailed);
        bindSwipe(ui.stage);
        state.built = true;
    }

    function bindSwipe(el) {
        var startX = 0, startY = 0, tracking = false;
        kit.on(el, "touchstart", function (e) {
            if (e.touches.length !== 1) { tracking = false; return; }
            tracking = true;
            startX = e.touches[0].clientX;
            startY = e.touches[0].clientY;
        }, { passive: true });
        kit.on(el, "touchend", function (e) {
            if (!tracking || !e.changedTouches.length) return;
            tracking = false;
            var dx = e.changedTouches[0].clientX - startX;
            var dy = e.changedTouches[0].clientY - startY;
            if (Math.abs(dx) < options.swipeDistance || Math.abs(dx) < Math.abs(dy)) return;
            if (dx < 0) Lightbox.next(); else Lightbox.previous();
        });
    }

    function onKey(e) {
        if (!state.open || e.altKey || e.ctrlKey || e.metaKey) return;
        switch (e.key) {
            case "ArrowRight": case "Right": case "PageDown": case "n": Lightbox.next(); break;
            case "ArrowLeft": case "Left": case "PageUp": case "p": Lightbox.previous(); break;
            case "Home": show(0); break;
            case "End": show(state.items.length - 1); break;
            case "Escape": case "Esc": case "x": Lightbox.end(); break;
            case " ": case "Spacebar":
                if (state.playing) Lightbox.stopSlideShow(); else Lightbox.startSlideShow();
                break;
            default: return;
        }
        e.preventDefault();
    }

    // The pictures of the link's group, in page order.
    function groupOf(link) {
        var rel = link.getAttribute("rel") || "lightbox";
        if (rel === "lightbox") return [link];
        var all = document.querySelectorAll("a[rel]");
        var items = [];
        for (var i = 0; i < all.length; i++) {
            if (all[i].getAttribute("rel") === rel && all[i].getAttribute("href")) items.push(all[i]);
        }
        return items.length ? items : [link];
    }

    function clearTimer() {
        if (state.timer) window.clearTimeout(state.timer);
        state.timer = null;
    }

    function schedule() {
        clearTimer();
        if (state.playing && state.items.length > 1) {
            state.timer = window.setTimeout(function () { state.timer = null; step(1); }, options.slideShowDelay);
        }
    }

    function step(delta) {
        var n = state.items.length;
        if (!state.open || n === 0) return;
        show((state.index + delta + n) % n);
    }

    function show(index) {
        var link = state.items[index];
        if (!link) return;
        clearTimer();
        state.index = index;
        ui.error.style.display = "none";
        ui.loading.style.display = "";
        ui.image.style.opacity = "0";
        ui.caption.textContent = link.getAttribute("title") || "";
        ui.counter.textContent = state.items.length > 1
            ? "Image " + (index + 1) + " of " + state.items.length : "";
        var several = state.items.length > 1;
        ui.prev.style.display = several ? "" : "none";
        ui.next.style.display = several ? "" : "none";
        ui.play.style.display = several ? "" : "none";
        state.loading = link.href;
        ui.image.alt = link.getAttribute("title") || "";
        ui.image.src = link.href;
        preloadNeighbours(index);
    }

    function preloadNeighbours(index) {
        var n = state.items.length;
        if (n < 2) return;
        kit.fx.preload(state.items[(index + 1) % n].href);
        if (n > 2) kit.fx.preload(state.items[(index - 1 + n) % n].href);
    }

    function imageLoaded() {
        if (!state.open || ui.image.src !== state.loading) return;
        ui.loading.style.display = "none";
        kit.fx.fadeIn(ui.image, options.fadeMs);
        schedule();
    }

    function imageFailed() {
        if (!state.open || ui.image.src !== state.loading) return;
        ui.loading.style.display = "none";
        ui.error.style.display = "";
        schedule();  // a slideshow goes on past a broken picture
    }

    function updatePlayButton() {
        ui.play.textContent = state.playing ? "\u275A\u275A Pause" : "\u25B6 Slideshow";
        kit.toggleClass(ui.box, "lb-playing", state.playing);
    }

    var Lightbox = {
        options: options,

        start: function (link) {
            if (!link || !link.getAttribute || !link.getAttribute("href")) return false;
            build();
            state.items = groupOf(link);
            var index = state.items.indexOf(link);
            state.lastFocus = document.activeElement;
            if (!state.open) {
                state.open = true;
                document.documentElement.classList.add("lb-open");
                ui.overlay.style.opacity = "0";
                kit.fx.fadeIn(ui.overlay, options.fadeMs);
                document.addEventListener("keydown", onKey);
            }
            show(index < 0 ? 0 : index);
            ui.box.focus();
            return false;
        },

        startSlideShow: function () {
            if (!state.open || state.items.length < 2) return false;
            state.playing = true;
            updatePlayButton();
            // The picture on screen gets its full time when it has loaded.
            if (ui.loading.style.display === "none") schedule();
            return false;
        },

        stopSlideShow: function () {
            state.playing = false;
            clearTimer();
            if (state.built) updatePlayButton();
        },

        next: function () { step(1); },
        previous: function () { step(-1); },
        isOpen: function () { return state.open; },
        currentIndex: function () { return state.open ? state.index : -1; },

        end: function () {
            if (!state.open) return;
            Lightbox.stopSlideShow();
            state.open = false;
            state.loading = null;
            document.removeEventListener("keydown", onKey);
            document.documentElement.classList.remove("lb-open");
            kit.fx.fadeOut(ui.overlay, options.fadeMs, function () {
                if (!state.open) {
                    ui.overlay.style.display = "none";
                    ui.image.removeAttribute("src");
                }
            });
            if (state.lastFocus && state.lastFocus.focus) state.lastFocus.focus();
        }
    };

    // One listener for every lightbox link, present or added later. A click
    // with a modifier key keeps its usual meaning (a new tab, a download).
    document.addEventListener("click", function (e) {
        if (e.defaultPrevented || e.button !== 0 || e.ctrlKey || e.metaKey || e.shiftKey || e.altKey) return;
        var link = kit.closest(e.target, "a[rel^='lightbox']");
        if (!link) return;
        e.preventDefault();
        Lightbox.start(link);
    });

    window.Lightbox = Lightbox;
})(window, document);
