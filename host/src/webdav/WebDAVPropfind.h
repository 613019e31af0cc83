// PROPFIND (depth 0 and 1) and PROPPATCH of the WebDAV server: the live
// properties computed from the file system and the lock table, the dead
// ones from WebDAVPropertyStore, and the quota properties of a share with
// a size limit. Stateless.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "webdav/WebDAVBodies.h"
#include "webdav/WebDAVExchange.h"
#include "webdav/WebDAVXml.h"

namespace Orvane {
namespace Host {

class WebDAVPropfind {
public:
    static void propfind(WebDAVExchange& x);
    static void proppatch(WebDAVExchange& x);

    // Bytes of the regular, non-hidden files below `folder`, counting each
    // folder once even when links lead back into the tree.
    static std::int64_t usedBytes(const std::string& folder);
    static bool isLive(const PropName& prop);

private:
    typedef WebDAVBodies::Propfind Request;

    static std::string response(WebDAVExchange& x, const std::string& path,
                                const WebDAVFileInfo& info, const Request& req);
    // The live property's content; false when this resource has none.
    static bool live(WebDAVExchange& x, const PropName& prop, const std::string& path,
                     const WebDAVFileInfo& info, std::string& value);
    static std::vector<std::pair<std::string, WebDAVFileInfo>> members(const std::string& folder);
};

}  // namespace Host
}  // namespace Orvane
