// PROPFIND (depth 0 and 1) and PROPPATCH of the WebDAV server. A folder's
// PROPFIND answer is sent while it is written (WebDAVStreamedBody), member
// by member in name order (WebDAVFolderMembers, WebDAVPropWriter), once
// every check that can refuse the request has passed; PROPPATCH keeps the
// dead properties in WebDAVPropertyStore. Stateless.
#pragma once

#include "webdav/WebDAVMethod.h"

namespace Orvane {
namespace Host {

class WebDAVPropfind {
public:
    static WebDAVMethods methods();
};

}  // namespace Host
}  // namespace Orvane
