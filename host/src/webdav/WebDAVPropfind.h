// PROPFIND (depth 0 and 1) and PROPPATCH of the WebDAV server: the live
// properties computed from the file system and the lock table, the dead
// ones from WebDAVPropertyStore, and the quota properties of a share with
// a size limit. Stateless.
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
