// The explorer's one modal dialog: a title, a line of text, an optional
// name field and a row of buttons. open() resolves with the button chosen
// ("cancel" for Escape) and the field's text.
"use strict";

(function () {
  var U = window.ExplorerUtil;
  var el = U.el;

  function ExplorerDialog(root) {
    this.node = root.appendChild(el("dialog", "expl-dialog"));
    this.form = this.node.appendChild(el("form"));
    this.form.method = "dialog";
    this.title = this.form.appendChild(el("h2"));
    this.text = this.form.appendChild(el("p", "expl-dialog-text"));
    this.label = this.form.appendChild(el("label"));
    this.labelText = this.label.appendChild(el("span"));
    this.input = this.label.appendChild(el("input"));
    this.input.autocomplete = "off";
    this.problem = this.form.appendChild(el("p", "expl-dialog-problem"));
    this.problem.setAttribute("role", "alert");
    this.buttons = this.form.appendChild(el("div", "expl-dialog-buttons"));
    this.pending = null;
    this.form.addEventListener("submit", this.submitted.bind(this));
    // Escape closes the dialog; a close event that arrives after the dialog
    // was opened again belongs to the one before.
    this.node.addEventListener("close", function () {
      if (!this.node.open) this.finish("cancel");
    }.bind(this));
  }

  // opts: { title, text, input (absent: no field), inputLabel,
  //         buttons: [{ value, label, kind }], validate(text) -> problem }
  // The first button is the one Enter chooses.
  ExplorerDialog.prototype.open = function (opts) {
    var self = this;
    this.finish("cancel");
    this.opts = opts;
    this.title.textContent = opts.title || "";
    this.text.textContent = opts.text || "";
    this.text.hidden = !opts.text;
    this.label.hidden = opts.input === undefined;
    this.labelText.textContent = opts.inputLabel || "Name";
    this.input.value = opts.input || "";
    this.problem.textContent = "";
    U.clear(this.buttons);
    opts.buttons.forEach(function (b) {
      var node = self.buttons.appendChild(el("button", b.kind || "", b.label));
      node.type = "submit";
      node.value = b.value;
    });
    var cancel = this.buttons.appendChild(el("button", "secondary", "Cancel"));
    cancel.type = "submit";
    cancel.value = "cancel";
    return new Promise(function (resolve) {
      self.pending = resolve;
      self.node.showModal();
      if (opts.input !== undefined) {
        self.input.focus();
        // The name without its extension is what one usually changes.
        var dot = self.input.value.lastIndexOf(".");
        self.input.setSelectionRange(0, dot > 0 ? dot : self.input.value.length);
      }
    });
  };

  ExplorerDialog.prototype.submitted = function (event) {
    event.preventDefault();
    var chosen = event.submitter ? event.submitter.value : this.opts.buttons[0].value;
    var text = this.input.value.trim();
    if (chosen !== "cancel" && this.opts.validate) {
      var problem = this.opts.validate(text);
      if (problem) {
        this.problem.textContent = problem;
        return;
      }
    }
    this.finish(chosen, text);
  };

  ExplorerDialog.prototype.finish = function (value, text) {
    var resolve = this.pending;
    this.pending = null;
    if (this.node.open) this.node.close();
    if (resolve) resolve({ value: value, text: text || "" });
  };

  window.ExplorerDialog = ExplorerDialog;
})();
