// The two date texts of WebDAV's live properties, for UTC times in seconds:
// getlastmodified's HTTP date and creationdate's ISO 8601 one, the same as
// Poco's HTTP_FORMAT and "%Y-%m-%dT%H:%M:%SZ" give. A folder's answer holds
// two per member, so the years 1970 to 9999 are written by hand, without
// Poco's calendar objects; Poco writes the rest. Pure functions,
// thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Host {

class WebDAVDates {
public:
    // "Sun, 06 Nov 1994 08:49:37 GMT", appended to `out`.
    static void appendHttp(std::string& out, std::int64_t seconds);
    // "1994-11-06T08:49:37Z", appended to `out`.
    static void appendIso(std::string& out, std::int64_t seconds);
};

}  // namespace Host
}  // namespace Orvane
