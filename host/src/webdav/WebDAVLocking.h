// LOCK and UNLOCK of the WebDAV server (class 2): new exclusive or shared
// write locks, refreshes, locks on unmapped addresses (which create an empty
// file), and the lockdiscovery and supportedlock texts PROPFIND shows.
// Stateless; the locks live in WebDAVLocks.
#pragma once

#include <string>
#include <vector>

#include "webdav/WebDAVMethod.h"

namespace Orvane {
namespace Host {

class WebDAVLocking {
public:
    static WebDAVMethods methods();

    // The texts PROPFIND shows of the locks.
    static std::string activeLock(const WebDAVLock& lock);
    static std::string lockDiscovery(const std::vector<WebDAVLock>& locks);
    static std::string supportedLock();
};

}  // namespace Host
}  // namespace Orvane
