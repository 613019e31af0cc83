// Browser checks of the host's owner pages; suite.js runs what checks() lists.
'use strict';

// ctx: { session, host, folders, root } from suite.js. Each entry is
// [name, async () => {...}].
function checks(ctx) {
  return [];
}

module.exports = { checks };
