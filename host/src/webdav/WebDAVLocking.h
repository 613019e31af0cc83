// LOCK and UNLOCK of the WebDAV server (class 2): new exclusive or shared
// write locks, refreshes, locks on unmapped addresses (which create an empty
// file), and the lockdiscovery and supportedlock texts PROPFIND shows.
// Stateless; the locks live in WebDAVLocks.
#pragma once

#include <string>
#include <vector>

#include "webdav/WebDAVExchange.h"

namespace Orvane {
namespace Host {

class WebDAVLocking {
public:
    static void lock(WebDAVExchange& x);
    static void unlock(WebDAVExchange& x);

    static std::string activeLock(const WebDAVLock& lock);
    static std::string lockDiscovery(const std::vector<WebDAVLock>& locks);
    static std::string supportedLock();

private:
    static void refresh(WebDAVExchange& x);
    static void answer(WebDAVExchange& x, const WebDAVLock& lock, int code);
};

}  // namespace Host
}  // namespace Orvane
