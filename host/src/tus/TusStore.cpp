#include "tus/TusStore.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/NumberParser.h>
#include <Poco/String.h>
#include <Poco/UUIDGenerator.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "http/WriteFailure.h"
#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"
#include "orvane/storage/ShareSpace.h"

namespace Orvane {
namespace Host {

namespace {

const char* const RECORD = ".info";
const char* const PART = ".part";
const char* const FRESH = ".new";

Poco::Logger& log() {
    return Poco::Logger::get("Tus");
}

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string TusStore::newId() {
    std::string id = Poco::UUIDGenerator::defaultGenerator().createRandom().toString();
    id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
    return id;
}

namespace {

// -1 when the file is not there.
long long sizeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
}

}  // namespace

TusStore& TusStore::instance() {
    // Made first, so that it is destroyed after the store, whose entries
    // give their room back to it at exit.
    Storage::ShareSpace::instance();
    static TusStore store;
    return store;
}

TusStore::~TusStore() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_pruner.joinable())
        m_pruner.join();
}

void TusStore::openProfile() {
    const std::string key = "tus.expiry.hours";
    const std::string text = Poco::trim(API::ProfileManager::getProperty(key, "24"));
    double hours = 0;
    if (!Poco::NumberParser::tryParseFloat(text, hours) || !(hours > 0) || hours > 24 * 365) {
        throw Orvane::Exception("host.properties: " + key +
                                " wants a number of hours above 0, not \"" + text + "\"");
    }
    const auto seconds = std::max<long long>(1, static_cast<long long>(hours * 3600));
    open(API::ProfileManager::getProfileRootDir() + "/tus", std::chrono::seconds(seconds));
}

void TusStore::open(const std::string& folder, std::chrono::seconds expiry) {
    Poco::File(folder).createDirectories();
    ::chmod(folder.c_str(), 0700);
    std::map<std::string, TusEntryPtr> old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        old.swap(m_entries);
        m_folder = folder;
        m_expiry = expiry;
    }
    old.clear();  // their rooms go back before they are claimed again
    std::vector<std::string> names;
    for (Poco::DirectoryIterator it(folder), end; it != end; ++it)
        names.push_back(it.name());
    for (const auto& name : names)
        load(name);
    startPruner();
}

std::chrono::seconds TusStore::expiry() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_expiry;
}

std::string TusStore::recordPath(const std::string& id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_folder + "/" + id + RECORD;
}

std::string TusStore::partPath(const std::string& id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_folder + "/" + id + PART;
}

void TusStore::removeFiles(const std::string& id) const {
    ::unlink(partPath(id).c_str());
    ::unlink(recordPath(id).c_str());
}

std::int64_t TusStore::expiresFromNow() const {
    return nowSeconds() + expiry().count();
}

// One name of the folder, as an earlier run left it.
void TusStore::load(const std::string& name) {
    const std::string folder = m_folder + "/";
    if (endsWith(name, FRESH)) {
        ::unlink((folder + name).c_str());  // a record being rewritten
        return;
    }
    if (endsWith(name, PART)) {
        const std::string id = name.substr(0, name.size() - ::strlen(PART));
        if (sizeOf(folder + id + RECORD) < 0)
            ::unlink((folder + name).c_str());  // its record was never written
        return;
    }
    if (!endsWith(name, RECORD))
        return;
    TusRecord record;
    const std::string id = name.substr(0, name.size() - ::strlen(RECORD));
    if (!record.load(folder + name) || record.id != id) {
        log().warning("Removed the unreadable upload record " + folder + name);
        removeFiles(id);
        return;
    }
    takeUp(record);
}

void TusStore::takeUp(const TusRecord& record) {
    const long long stored = sizeOf(partPath(record.id));
    const bool broken =
        !record.done && (stored < 0 || static_cast<unsigned long long>(stored) > record.length);
    if (broken || record.expires <= nowSeconds()) {
        removeFiles(record.id);
        return;
    }
    auto entry = std::make_shared<TusEntry>();
    entry->record = record;
    if (record.done) {
        entry->offset = record.length;
        ::unlink(partPath(record.id).c_str());
    } else {
        entry->offset = static_cast<std::uint64_t>(stored);
        // The share's room, as at creation; the disk is asked as bytes come.
        entry->room =
            Storage::SpaceReservation(record.shareRoot, record.sizeLimit, "", record.length);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[record.id] = entry;
}

TusEntryPtr TusStore::create(TusRecord record, Storage::SpaceReservation room) {
    record.expires = expiresFromNow();
    record.save(recordPath(record.id));
    const std::string part = partPath(record.id);
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        ::unlink(recordPath(record.id).c_str());
        throw WriteFailure("cannot create " + part + ": " + ::strerror(error), error);
    }
    ::close(fd);
    auto entry = std::make_shared<TusEntry>();
    entry->record = record;
    entry->room = std::move(room);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[record.id] = entry;
    return entry;
}

TusEntryPtr TusStore::find(const std::string& id) {
    TusEntryPtr entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        if (it == m_entries.end())
            return TusEntryPtr();
        entry = it->second;
    }
    bool expired;
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        expired = entry->record.expires <= nowSeconds();
    }
    if (!expired)
        return entry;
    remove(entry);
    return TusEntryPtr();
}

void TusStore::remove(const TusEntryPtr& entry) {
    std::string id;
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        if (entry->gone)
            return;
        entry->gone = true;
        ++entry->writer;
        entry->room = Storage::SpaceReservation();  // the room goes back now
        id = entry->record.id;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(id);
        if (it != m_entries.end() && it->second == entry)
            m_entries.erase(it);
    }
    removeFiles(id);
}

void TusStore::touch(TusEntry& entry) {
    entry.record.expires = expiresFromNow();
    entry.record.save(recordPath(entry.record.id));
}

void TusStore::finish(TusEntry& entry, const std::string& placed) {
    entry.record.done = true;
    entry.record.placed = placed;
    entry.record.expires = expiresFromNow();
    ++entry.writer;
    entry.offset = entry.record.length;
    ::unlink(partPath(entry.record.id).c_str());
    try {
        entry.record.save(recordPath(entry.record.id));
    } catch (const WriteFailure& e) {
        // The file is in place; only a late HEAD would miss the record.
        log().warning(std::string("Upload ") + entry.record.id +
                      " done, not recorded: " + e.what());
    }
}

int TusStore::prune() {
    std::vector<TusEntryPtr> all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& item : m_entries)
            all.push_back(item.second);
    }
    int removed = 0;
    const std::int64_t now = nowSeconds();
    for (const auto& entry : all) {
        bool expired;
        {
            std::lock_guard<std::mutex> lock(entry->mutex);
            expired = entry->record.expires <= now;
        }
        if (expired) {
            remove(entry);
            ++removed;
        }
    }
    return removed;
}

void TusStore::startPruner() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pruner.joinable())
        return;
    m_pruner = std::thread([this] { runPruner(); });
}

void TusStore::runPruner() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        // Often enough that an upload goes soon after its time.
        const auto period = std::min<std::chrono::seconds>(
            std::chrono::seconds(600),
            std::max<std::chrono::seconds>(std::chrono::seconds(1), m_expiry / 8));
        m_wake.wait_for(lock, period);
        if (m_stopping)
            break;
        lock.unlock();
        const int removed = prune();
        if (removed > 0)
            log().information("Removed " + std::to_string(removed) + " expired upload(s)");
        lock.lock();
    }
}

}  // namespace Host
}  // namespace Orvane
