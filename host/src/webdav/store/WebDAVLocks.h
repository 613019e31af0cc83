// The WebDAV write locks, held in memory for the life of the process:
// exclusive and shared, depth 0 or infinity, with a timeout after which a
// lock is gone. Locks are kept by file-system path, so that two addresses of
// one folder share them. Thread-safe (one mutex); expired locks are dropped
// whenever the table is read.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Orvane {
namespace Host {

struct WebDAVLock {
    std::string token;  // opaquelocktoken:<uuid>
    std::string path;   // native path of the locked resource
    std::string root;   // its client path (lockroot)
    bool exclusive = true;
    bool infinite = false;
    std::string owner;  // the <owner> element's content, as XML
    int timeoutSeconds = 0;
    std::chrono::steady_clock::time_point expires;

    // The lock covers `target`: it is the locked resource, or lies below an
    // infinite lock's folder.
    bool covers(const std::string& target) const;
    int secondsLeft() const;
};

class WebDAVLocks {
public:
    static const int kMaxSeconds = 3600;

    static WebDAVLocks& instance();

    // Seconds granted for a Timeout header ("Second-N", "Infinite", lists).
    static int grantedSeconds(const std::string& timeoutHeader);

    // The new lock, or false when an existing one conflicts.
    bool acquire(WebDAVLock& lock);
    // Every lock that covers `path`.
    std::vector<WebDAVLock> covering(const std::string& path);
    // Every lock on `path` or below it (the locks a DELETE would break).
    std::vector<WebDAVLock> within(const std::string& path);
    // Locks that protect a change of `path`: covering it, below it when
    // `tree`, and on its folder (whose member list changes) when `membership`.
    std::vector<WebDAVLock> protecting(const std::string& path, bool tree, bool membership);
    bool find(const std::string& token, WebDAVLock& lock);
    bool refresh(const std::string& token, int seconds, WebDAVLock& lock);
    bool release(const std::string& token);
    // Drops the locks on `path` and below (the resource is gone or moved).
    void removeTree(const std::string& path);

private:
    void purge();

    std::mutex m_mutex;
    std::map<std::string, WebDAVLock> m_locks;  // by token
};

}  // namespace Host
}  // namespace Orvane
