#include "auth/SessionStore.h"

#include <Poco/RandomStream.h>

#include <algorithm>
#include <vector>

namespace Orvane {
namespace Host {

namespace {

std::string randomId() {
    Poco::RandomInputStream random;
    static const char* digits = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 16; ++i) {
        unsigned char b = static_cast<unsigned char>(random.get());
        id += digits[b >> 4];
        id += digits[b & 15];
    }
    return id;
}

}  // namespace

const std::size_t SessionStore::MAX_PER_GUEST;

SessionStore::SessionStore(std::chrono::seconds lifetime, std::size_t maxSessions)
    : m_lifetime(lifetime), m_maxSessions(maxSessions) {}

std::string SessionStore::create(Kind kind, const std::string& user) {
    Session session;
    session.kind = kind;
    session.user = user;
    session.expires = std::chrono::steady_clock::now() + m_lifetime;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sessions.size() >= m_maxSessions)
        prune();
    if (kind == GUEST)
        makeRoomFor(user);
    std::string id = randomId();
    while (m_sessions.count(id))
        id = randomId();
    m_sessions[id] = session;
    return id;
}

bool SessionStore::find(const std::string& id, Kind kind, Session& out) {
    if (id.size() != 32)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return false;
    if (it->second.expires < std::chrono::steady_clock::now()) {
        m_sessions.erase(it);
        return false;
    }
    if (it->second.kind != kind)
        return false;
    out = it->second;
    return true;
}

void SessionStore::remove(const std::string& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(id);
}

void SessionStore::removeUser(Kind kind, const std::string& user) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second.kind == kind && it->second.user == user) {
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
}

// Sessions are made with one lifetime, so the oldest expires first. A
// guest's sign-ins everywhere cannot fill the store, and a stolen password
// does not keep more sessions than the guest's own.
void SessionStore::makeRoomFor(const std::string& guest) {
    std::vector<std::map<std::string, Session>::iterator> held;
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (it->second.kind == GUEST && it->second.user == guest)
            held.push_back(it);
    }
    if (held.size() < MAX_PER_GUEST)
        return;
    std::sort(held.begin(), held.end(),
              [](const auto& a, const auto& b) { return a->second.expires < b->second.expires; });
    for (std::size_t i = 0; i + MAX_PER_GUEST <= held.size(); ++i)
        m_sessions.erase(held[i]);
}

void SessionStore::prune() {
    const auto now = std::chrono::steady_clock::now();
    auto oldest = m_sessions.end();
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second.expires < now) {
            it = m_sessions.erase(it);
            continue;
        }
        if (oldest == m_sessions.end() || it->second.expires < oldest->second.expires)
            oldest = it;
        ++it;
    }
    // Still full: the oldest sign-in gives way rather than refusing a new one.
    if (m_sessions.size() >= m_maxSessions && oldest != m_sessions.end())
        m_sessions.erase(oldest);
}

}  // namespace Host
}  // namespace Orvane
