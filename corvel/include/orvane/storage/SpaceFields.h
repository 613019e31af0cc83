// Message fields through which the plug-in tells the host's writers which
// share a write lands in and how much that share may hold, and the host
// tells the plug-in how long an upload says it is. Constants only.
#pragma once

namespace Orvane {
namespace Defs {
namespace Space {

// Section "HTTPRequest" of START_UPLOAD and START_GUEST_UPLOAD (host to
// plug-in): the upload's declared body length in bytes (its
// Content-Length); absent when the body comes chunked.
constexpr const char* S_UPLOAD_LENGTH = "UPLOADLENGTH";

// The share a write lands in: its folder (native form) and its size limit
// in bytes (0: none). Written by the plug-in in section "HTTPResponse" of
// its START_UPLOAD reply (with ALLOW 1) and of its WebDAV reply (the limit
// only: the host finds the folder from DIRNAME and BASE); in section
// "GUESTACCESS" of START_GUEST_UPLOAD, "copyfile" (the share of "copyto"),
// "renameormove" (the share of "toname") and "deletefile" when passed on to
// the explorer; and by the explorer in "HTTPResponse" of its START_UPLOAD
// answer to the upload path.
constexpr const char* S_SHARE_ROOT = "SHARE_ROOT";
constexpr const char* S_SIZE_LIMIT = "SIZE_LIMIT";

// Set to 1 where a write is refused only because the share has no room
// for it: in "HTTPResponse" of the WebDAV reply of a PUT into a share over
// its limit (the host answers 507, not 403), and in "GUESTACCESS" of a
// refused START_GUEST_UPLOAD (the explorer answers with the size-limit text).
constexpr const char* S_SIZE_LIMIT_EXCEEDED = "SIZE_LIMIT_EXCEEDED";

// Section "GUESTACCESS" of "renameormove": the folder of the share the
// moved entry leaves (native form), which gets its bytes back when the
// move crosses shares.
constexpr const char* S_SOURCE_SHARE_ROOT = "SOURCE_SHARE_ROOT";

}  // namespace Space
}  // namespace Defs
}  // namespace Orvane
