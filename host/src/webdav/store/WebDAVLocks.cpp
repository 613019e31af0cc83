#include "webdav/store/WebDAVLocks.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>
#include <Poco/StringTokenizer.h>

#include "orvane/Util.h"

namespace Orvane {
namespace Host {

bool WebDAVLock::covers(const std::string& target) const {
    return target == path || (infinite && Util::isPathWithin(target, path));
}

int WebDAVLock::secondsLeft() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::seconds>(expires - std::chrono::steady_clock::now())
            .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

WebDAVLocks& WebDAVLocks::instance() {
    static WebDAVLocks locks;
    return locks;
}

int WebDAVLocks::grantedSeconds(const std::string& header) {
    // The first value we understand wins; more than an hour is not granted,
    // so that a client that went away does not block the file for long.
    Poco::StringTokenizer values(
        header, ",", Poco::StringTokenizer::TOK_TRIM | Poco::StringTokenizer::TOK_IGNORE_EMPTY);
    for (const std::string& value : values) {
        if (Poco::icompare(value, "Infinite") == 0)
            return kMaxSeconds;
        if (Poco::icompare(value.substr(0, 7), "Second-") == 0) {
            Poco::UInt64 seconds = 0;
            if (Poco::NumberParser::tryParseUnsigned64(value.substr(7), seconds))
                return seconds == 0
                           ? 1
                           : static_cast<int>(std::min<Poco::UInt64>(seconds, kMaxSeconds));
        }
    }
    return kMaxSeconds;
}

void WebDAVLocks::purge() {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_locks.begin(); it != m_locks.end();) {
        if (it->second.expires <= now)
            it = m_locks.erase(it);
        else
            ++it;
    }
}

bool WebDAVLocks::acquire(WebDAVLock& lock) {
    std::lock_guard<std::mutex> guard(m_mutex);
    purge();
    for (const auto& entry : m_locks) {
        const WebDAVLock& other = entry.second;
        const bool overlaps = other.covers(lock.path) || lock.covers(other.path);
        if (overlaps && (other.exclusive || lock.exclusive))
            return false;
    }
    lock.expires = std::chrono::steady_clock::now() + std::chrono::seconds(lock.timeoutSeconds);
    m_locks[lock.token] = lock;
    return true;
}

std::vector<WebDAVLock> WebDAVLocks::covering(const std::string& path) {
    return protecting(path, false, false);
}

std::vector<WebDAVLock> WebDAVLocks::within(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    purge();
    std::vector<WebDAVLock> out;
    for (const auto& entry : m_locks) {
        if (Util::isPathWithin(entry.second.path, path))
            out.push_back(entry.second);
    }
    return out;
}

std::vector<WebDAVLock> WebDAVLocks::protecting(const std::string& path, bool tree,
                                                bool membership) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    std::lock_guard<std::mutex> guard(m_mutex);
    purge();
    std::vector<WebDAVLock> out;
    for (const auto& entry : m_locks) {
        const WebDAVLock& lock = entry.second;
        if (lock.covers(path) || (tree && Util::isPathWithin(lock.path, path)) ||
            (membership && lock.path == folder)) {
            out.push_back(lock);
        }
    }
    return out;
}

bool WebDAVLocks::find(const std::string& token, WebDAVLock& lock) {
    std::lock_guard<std::mutex> guard(m_mutex);
    purge();
    auto it = m_locks.find(token);
    if (it == m_locks.end())
        return false;
    lock = it->second;
    return true;
}

bool WebDAVLocks::refresh(const std::string& token, int seconds, WebDAVLock& lock) {
    std::lock_guard<std::mutex> guard(m_mutex);
    purge();
    auto it = m_locks.find(token);
    if (it == m_locks.end())
        return false;
    it->second.timeoutSeconds = seconds;
    it->second.expires = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    lock = it->second;
    return true;
}

bool WebDAVLocks::release(const std::string& token) {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_locks.erase(token) != 0;
}

void WebDAVLocks::removeTree(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    for (auto it = m_locks.begin(); it != m_locks.end();) {
        if (Util::isPathWithin(it->second.path, path))
            it = m_locks.erase(it);
        else
            ++it;
    }
}

}  // namespace Host
}  // namespace Orvane
