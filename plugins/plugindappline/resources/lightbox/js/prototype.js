/*
 * Small DOM helpers for the gallery's lightbox (window.LightboxKit): element
 * building with text-only content, class switching and event binding. No
 * global other than LightboxKit is defined, so nothing on the page clashes.
 */
(function (window, document) {
    "use strict";

    var kit = window.LightboxKit = window.LightboxKit || {};

    // build("div", {id: "x", className: "y", text: "z", title: "t"}, [children])
    kit.build = function (tag, props, children) {
        var el = document.createElement(tag);
        var key;
        props = props || {};
        for (key in props) {
            if (!Object.prototype.hasOwnProperty.call(props, key)) continue;
            if (key === "text") el.textContent = props[key];
            else if (key === "className") el.className = props[key];
            else if (key.indexOf("aria") === 0 || key === "role" || key === "tabindex")
                el.setAttribute(key.replace(/^aria([A-Z])/, function (m, c) { return "aria-" + c.toLowerCase(); }), props[key]);
            else el[key] = props[key];
        }
        (children || []).forEach(function (child) { if (child) el.appendChild(child); });
        return el;
    };

    kit.show = function (el, on) { el.style.display = on === false ? "none" : ""; };
    kit.hide = function (el) { el.style.display = "none"; };
    kit.toggleClass = function (el, name, on) {
        if (on) el.classList.add(name); else el.classList.remove(name);
    };
    kit.on = function (el, type, handler, options) {
        el.addEventListener(type, handler, options || false);
        return function () { el.removeEventListener(type, handler, options || false); };
    };
    kit.ready = function (fn) {
        if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", fn);
        else fn();
    };
    // The nearest ancestor-or-self matching the selector.
    kit.closest = function (el, selector) {
        while (el && el.nodeType === 1) {
            if (el.matches(selector)) return el;
            el = el.parentNode;
        }
        return null;
    };
})(window, document);
