// Finding a folder's image cache file and keeping the last few open. The
// open databases are shared by every caller; the list itself is guarded by
// one mutex, held while a file is opened so that it is opened only once.
#include "orvane/CacheDB.h"

#include <Poco/DigestEngine.h>
#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/SHA1Engine.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <list>
#include <mutex>
#include <utility>

#include "SqliteCacheDB.h"
#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"
#include "orvane/Util.h"

namespace Orvane {
namespace System {
namespace {

// Enough for a gallery page and the background run at once.
const std::size_t OPEN_DATABASES = 16;
const char* const CACHE_DIR = "imagecache";
const char* const SQLITE_MAGIC = "SQLite format 3";

typedef boost::shared_ptr<SqliteCacheDB> CacheDBPtr;
typedef std::list<std::pair<std::string, CacheDBPtr>> OpenList;

std::mutex& openMutex() {
    static std::mutex mutex;
    return mutex;
}

// Most recently used first.
OpenList& openList() {
    static OpenList list;
    return list;
}

// One stat: page handlers ask for every picture.
bool isFolder(const std::string& folder) {
    struct stat st;
    return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string cacheDir(const std::string& profile) {
    return profile + "/" + CACHE_DIR;
}

void makeCacheDir(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw Orvane::Exception("Cannot create " + dir + ": " + std::strerror(errno));
}

std::string fileFor(const std::string& dir, const std::string& folder) {
    Poco::SHA1Engine sha1;
    sha1.update(folder);
    return dir + "/" + Poco::DigestEngine::digestToHex(sha1.digest()) + ".db";
}

// A non-empty file that is not an SQLite database at all.
bool isForeignFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    char head[16] = {0};
    if (!in.read(head, sizeof head))
        return in.gcount() > 0;
    return std::memcmp(head, SQLITE_MAGIC, std::strlen(SQLITE_MAGIC) + 1) != 0;
}

void removeCacheFile(const std::string& file) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        Poco::File part(file + suffix);
        if (part.exists())
            part.remove();
    }
}

// Only a cache: a damaged file is replaced by an empty one.
CacheDBPtr openFile(const std::string& file) {
    try {
        return CacheDBPtr(new SqliteCacheDB(file));
    } catch (const Orvane::Exception& e) {
        if (!isForeignFile(file))
            throw;
        Poco::Logger::get("ImageCache").warning("Replacing a damaged cache file: " + e.message());
        removeCacheFile(file);
        return CacheDBPtr(new SqliteCacheDB(file));
    }
}

CacheDBPtr findOrOpen(const std::string& dir, const std::string& file) {
    std::lock_guard<std::mutex> lock(openMutex());
    OpenList& list = openList();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->first == file) {
            list.splice(list.begin(), list, it);
            return it->second;
        }
    }
    makeCacheDir(dir);
    CacheDBPtr db = openFile(file);
    list.emplace_front(file, db);
    if (list.size() > OPEN_DATABASES)
        list.pop_back();
    return db;
}

bool isCacheFileName(const std::string& name) {
    for (const char* suffix : {".db", ".db-wal", ".db-shm"}) {
        const std::size_t length = std::strlen(suffix);
        if (name.size() > length && name.compare(name.size() - length, length, suffix) == 0)
            return true;
    }
    return false;
}

}  // namespace

boost::shared_ptr<OrvaneCacheDB> LocalCacheDBHolder::GetCacheDB(const std::string& folder) {
    const std::string profile = API::ProfileManager::getProfileRootDir();
    const std::string native = Util::convertPathToNative(folder);
    if (profile.empty() || !isFolder(native))
        return boost::shared_ptr<OrvaneCacheDB>();
    const std::string dir = cacheDir(profile);
    return findOrOpen(dir, fileFor(dir, native));
}

bool LocalCacheDBHolder::ClearAll() {
    const std::string profile = API::ProfileManager::getProfileRootDir();
    if (profile.empty())
        return false;
    std::lock_guard<std::mutex> lock(openMutex());
    // Whoever still holds a database keeps its own connection until done.
    openList().clear();
    const std::string dir = cacheDir(profile);
    if (!isFolder(dir))
        return true;
    bool removedAll = true;
    for (Poco::DirectoryIterator it(dir), end; it != end; ++it) {
        if (!isCacheFileName(it.name()))
            continue;
        try {
            it->remove();
        } catch (const Poco::Exception& e) {
            Poco::Logger::get("ImageCache")
                .error("Cannot remove " + it.path().toString() + ": " + e.displayText());
            removedAll = false;
        }
    }
    return removedAll;
}

}  // namespace System
}  // namespace Orvane
