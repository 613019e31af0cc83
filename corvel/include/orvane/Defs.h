// The string constants of the host interface: message sections, fields,
// operations and service names. Plain constants, safe from any thread.
#pragma once

namespace Orvane {
namespace Defs {

namespace HTTP {
// Request section, filled by the web front for every HTTP request.
constexpr const char* MS_HTTP_REQ = "HTTPRequest";
constexpr const char* S_HTTP_REQ_REQUEST = "HTTPRequest";  // the raw query string
constexpr const char* S_HTTP_REQ_URL = "HTTPFullURL";      // the raw path, no query
constexpr const char* S_HTTP_REQ_METHOD = "HTTPMethod";
constexpr const char* S_HTTP_REQ_RANGE = "HTTPRange";
constexpr const char* S_HTTP_REQ_USER_AGENT = "HTTPUserAgent";
constexpr const char* S_HTTP_REQ_CREDENTIALS_INFO = "CRED_INFO";  // user:password
constexpr const char* S_HTTP_REQ_WEBDAV_OPERATION = "WEBDAV_OPERATION";
constexpr const char* S_HTTP_REQ_DESTINATION = "DESTINATION";
constexpr const char* S_HTTP_REQ_SHARENAME = "SHARENAME";
constexpr const char* S_HTTP_REQ_UPLOADFILEPATH = "UPLOADFILEPATH";
constexpr const char* S_HTTP_REQ_UPLOADFILESIZE = "UPLOADFILESIZE";

// Response section, read by the web front when it writes the answer.
constexpr const char* MS_HTTP_RESP = "HTTPResponse";
constexpr const char* S_HTTP_RESP_STATUS = "HTTPStatus";
constexpr const char* S_HTTP_RESP_TYPE = "Content-Type";
constexpr const char* S_HTTP_CONTENT_DISPOSITION = "Content-Disposition";
constexpr const char* S_HTTP_SET_CACHE_CONTROL = "Cache-Control";
constexpr const char* S_HTTP_RESP_AUTHENTICATION_REALM = "AUTHENTICATION_REALM";
constexpr const char* S_HTTP_SEND_FILE = "SEND_FILE";
constexpr const char* S_HTTP_RESP_ALLOW = "ALLOW";
constexpr const char* S_HTTP_RESP_ALLOW_WRITE = "ALLOW_WRITE";
constexpr const char* S_HTTP_RESP_DIRNAME = "DIRNAME";

// Characters that the share links percent-encode on top of the usual set.
constexpr const char* URL_SPECIAL_CHARS = "#:?/\\$@!^&*()-;'><=+";
}  // namespace HTTP

namespace Sync {
constexpr const char* MS_SYNC = "SyncProxyService";
constexpr const char* S_SYNC_TOKEN = "Token";
constexpr const char* MO_SYNC = "SYNC";
constexpr const char* MO_CANCEL_SYNC = "CANCELSYNC";
constexpr const char* MO_SEND_FILE_COMPLETE = "SEND_FILE_COMPLETE";
constexpr const char* S_SEND_FILE_COMPLETE_SERVICE = "SEND_FILE_COMPLETE_SERVICE";
}  // namespace Sync

namespace GuestAccess {
constexpr const char* MS_GUESTACCESS = "GUESTACCESS";
constexpr const char* S_ALLOW = "ALLOW";
}  // namespace GuestAccess

namespace Service {
constexpr const char* SYNCPROXYSERVICE = "SyncProxyService";
constexpr const char* BOOTUSERMANAGER = "UserManager";
constexpr const char* EXPLORER = "explorer";
constexpr const char* TIMERSERVICE = "TimerService";
}  // namespace Service

namespace Timer {
constexpr const char* MO_TIMER = "TIMER";
constexpr const char* MO_TIMER_START = "TIMER_START";
constexpr const char* MO_TIMER_STOP = "TIMER_STOP";
constexpr const char* MS_TIMER = "Timer";
constexpr const char* S_TIMER_SERVICE = "Service";
constexpr const char* S_TIMER_TAG = "Tag";
constexpr const char* S_TIMER_INTERVAL = "Interval";
constexpr const char* S_TIMER_REPEATS = "Repeats";
}  // namespace Timer

namespace Plugin {
constexpr const char* APPLICATION_PLUGIN = "ApplicationPlugin";
constexpr const char* CORE_PLUGIN = "CorePlugin";
}  // namespace Plugin

namespace Defaults {
constexpr const char* PLUGINDATADIR = "plugindata";
constexpr const char* TRUEVAL = "1";
constexpr const char* FALSEVAL = "0";
}  // namespace Defaults

}  // namespace Defs
}  // namespace Orvane
