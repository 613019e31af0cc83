#include "orvane/storage/ShareSpace.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "orvane/Util.h"

namespace Orvane {
namespace Storage {

namespace {

typedef std::set<std::pair<dev_t, ino_t>> Visited;

bool firstVisit(const struct stat& st, Visited& visited) {
    return visited.insert(std::make_pair(st.st_dev, st.st_ino)).second;
}

bool isSkipped(const char* name) {
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
        return true;
    return std::strncmp(name, ShareSpace::TRANSFER_PREFIX,
                        std::strlen(ShareSpace::TRANSFER_PREFIX)) == 0;
}

// Sums the regular files of the folders on `pending` and of every folder
// found below them. A loop, not a recursion: a visitor can nest folders far
// deeper than a thread's stack would take.
std::int64_t walk(std::vector<std::string> pending, Visited& visited, bool followLinks) {
    std::int64_t total = 0;
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;  // gone or unreadable meanwhile: it counts nothing
        const int fd = ::dirfd(dir);
        while (const struct dirent* entry = ::readdir(dir)) {
            if (isSkipped(entry->d_name))
                continue;
            struct stat st;
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISLNK(st.st_mode) && (!followLinks || ::fstatat(fd, entry->d_name, &st, 0) != 0))
                continue;
            if (S_ISREG(st.st_mode))
                total += static_cast<std::int64_t>(st.st_size);
            else if (S_ISDIR(st.st_mode) && firstVisit(st, visited))
                pending.push_back(folder + "/" + entry->d_name);
        }
        ::closedir(dir);
    }
    return total;
}

// The folder and every folder above it, where the links of its path
// really lead: a link below that leads back up is not followed.
void markAncestors(const std::string& folder, Visited& visited) {
    char* real = ::realpath(folder.c_str(), nullptr);
    std::string physical = real ? real : folder;
    std::free(real);
    for (;;) {
        struct stat st;
        if (::stat(physical.c_str(), &st) == 0)
            firstVisit(st, visited);
        const std::string::size_type slash = physical.rfind('/');
        if (slash == std::string::npos || physical == "/")
            return;
        physical = slash == 0 ? "/" : physical.substr(0, slash);
    }
}

std::chrono::steady_clock::duration rewalkAfter() {
    return std::chrono::seconds(ShareSpace::REWALK_SECONDS);
}

}  // namespace

ShareSpace& ShareSpace::instance() {
    // Never destroyed: the background walker may still run while the
    // process ends.
    static ShareSpace* space = new ShareSpace();
    return *space;
}

std::string ShareSpace::keyOf(const std::string& root) {
    return Util::convertPathToNative(root);
}

std::int64_t ShareSpace::measure(const std::string& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        throw Poco::FileNotFoundException(folder, std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        throw Poco::OpenFileException(folder, "not a folder");
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        throw Poco::FileAccessDeniedException(folder, std::strerror(errno));
    ::closedir(dir);
    Visited visited;
    markAncestors(folder, visited);
    firstVisit(st, visited);
    return walk({folder}, visited, true);
}

std::int64_t ShareSpace::sizeOf(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    if (S_ISREG(st.st_mode))
        return static_cast<std::int64_t>(st.st_size);
    if (!S_ISDIR(st.st_mode))
        return 0;
    Visited visited;
    firstVisit(st, visited);
    return walk({path}, visited, false);
}

ShareSpace::Entry& ShareSpace::knownEntry(std::unique_lock<std::mutex>& lock,
                                          const std::string& key) {
    for (;;) {
        // Entries are never erased, so the reference outlives the unlock.
        Entry& entry = m_entries[key];
        if (entry.known) {
            scheduleIfOld(key, entry);
            return entry;
        }
        if (entry.walking) {
            m_walked.wait(lock);
            continue;
        }
        startWalk(entry);
        bool ok = false;
        std::int64_t size = 0;
        lock.unlock();
        try {
            size = measure(key);
            ok = true;
        } catch (...) {
            lock.lock();
            finishWalk(entry, false, 0);
            throw;
        }
        lock.lock();
        finishWalk(entry, ok, size);
    }
}

void ShareSpace::startWalk(Entry& entry) {
    entry.walking = true;
    entry.walkGeneration = entry.generation;
    entry.grownDuringWalk = 0;
}

// What the walk found, plus what was stored while it ran (it may or may
// not have seen that: counting it twice until the next walk errs on the
// side of the limit). Removals during the walk are left to the next one.
void ShareSpace::finishWalk(Entry& entry, bool ok, std::int64_t size) {
    entry.walking = false;
    if (!ok) {
        entry.known = false;
    } else if (entry.walkGeneration == entry.generation) {
        entry.total = size + entry.grownDuringWalk;
        entry.known = true;
        entry.walkedAt = std::chrono::steady_clock::now();
    }
    m_walked.notify_all();
}

void ShareSpace::scheduleIfOld(const std::string& key, Entry& entry) {
    if (entry.walking || std::chrono::steady_clock::now() - entry.walkedAt < rewalkAfter())
        return;
    startWalk(entry);
    m_queue.push_back(key);
    if (!m_walkerStarted) {
        m_walkerStarted = true;
        std::thread([this] { walkInBackground(); }).detach();
    }
    m_queued.notify_one();
}

void ShareSpace::walkInBackground() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_queued.wait(lock, [this] { return !m_queue.empty(); });
        const std::string key = m_queue.front();
        m_queue.pop_front();
        lock.unlock();
        bool ok = false;
        std::int64_t size = 0;
        try {
            size = measure(key);
            ok = true;
        } catch (const std::exception& e) {
            Poco::Logger::get("ShareSpace").warning("cannot walk " + key + ": " + e.what());
        }
        lock.lock();
        finishWalk(m_entries[key], ok, size);
    }
}

void ShareSpace::apply(Entry& entry, std::int64_t bytes) {
    if (entry.known)
        entry.total = std::max<std::int64_t>(0, entry.total + bytes);
    if (entry.walking && bytes > 0)
        entry.grownDuringWalk += bytes;
}

std::int64_t ShareSpace::used(const std::string& root) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const Entry& entry = knownEntry(lock, keyOf(root));
    return entry.total + entry.reserved;
}

bool ShareSpace::fits(const std::string& root, std::int64_t limit, std::int64_t bytes) {
    return limit <= 0 || bytes <= limit - used(root);
}

std::uint64_t ShareSpace::reserve(const std::string& root, std::int64_t limit, std::int64_t bytes) {
    bytes = std::max<std::int64_t>(0, bytes);
    const std::string key = keyOf(root);
    std::unique_lock<std::mutex> lock(m_mutex);
    Entry* entry = nullptr;
    if (limit > 0) {
        entry = &knownEntry(lock, key);
        if (bytes > limit - (entry->total + entry->reserved))
            return 0;
    } else {
        entry = &m_entries[key];
    }
    entry->reserved += bytes;
    const std::uint64_t id = m_nextId++;
    m_claims[id] = Claim{key, std::max<std::int64_t>(0, limit), bytes};
    return id;
}

bool ShareSpace::extend(std::uint64_t id, std::int64_t total) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto claim = m_claims.find(id);
    if (claim == m_claims.end())
        return false;
    const std::int64_t more = total - claim->second.bytes;
    if (more <= 0)
        return true;
    Entry* entry = &m_entries[claim->second.root];
    if (claim->second.limit > 0) {
        // A forgotten share is walked again before it may grow.
        entry = &knownEntry(lock, claim->second.root);
        if (more > claim->second.limit - (entry->total + entry->reserved))
            return false;
    }
    entry->reserved += more;
    claim->second.bytes = total;
    return true;
}

void ShareSpace::settle(std::uint64_t id, std::int64_t stored) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto claim = m_claims.find(id);
    if (claim == m_claims.end())
        return;
    Entry& entry = m_entries[claim->second.root];
    entry.reserved -= claim->second.bytes;
    apply(entry, stored);
    m_claims.erase(claim);
}

void ShareSpace::changed(const std::string& root, std::int64_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto entry = m_entries.find(keyOf(root));
    if (entry != m_entries.end())
        apply(entry->second, bytes);
}

void ShareSpace::forget(const std::string& root) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto entry = m_entries.find(keyOf(root));
    if (entry == m_entries.end())
        return;
    entry->second.known = false;
    ++entry->second.generation;
}

}  // namespace Storage
}  // namespace Orvane
