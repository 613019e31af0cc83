// The host's image cache: one SQLite file per picture folder below the
// profile's imagecache/ (named by a hash of the folder's path), holding
// thumbnails and slides by key with the source file's modification stamp.
// Databases are shared and safe from any thread; the calls throw
// Orvane::Exception when the file cannot be read or written.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

namespace Orvane {
namespace System {

class OrvaneCacheDB {
public:
    virtual ~OrvaneCacheDB() = default;

    virtual bool isThumbPresent(const std::string& key, const std::string& stamp) = 0;
    virtual bool getThumbImage(const std::string& key, std::string& data) = 0;
    virtual bool addThumbImage(const std::string& key, const std::string& data,
                               const std::string& stamp) = 0;
    virtual bool deleteThumbImage(const std::string& key) = 0;

    virtual bool isSlidePresent(const std::string& key, const std::string& stamp) = 0;
    virtual bool getSlideImage(const std::string& key, std::string& data) = 0;
    virtual bool addSlideImage(const std::string& key, const std::string& data,
                               const std::string& stamp) = 0;
    virtual bool deleteSlideImage(const std::string& key) = 0;
};

class LocalCacheDBHolder {
public:
    // Null for a folder that does not exist or when no profile is loaded;
    // the last few databases asked for stay open. Throws Orvane::Exception
    // when the cache file cannot be made.
    static boost::shared_ptr<OrvaneCacheDB> GetCacheDB(const std::string& folder);
    // Closes the open databases and removes every cache file of the
    // profile; false when one could not be removed.
    static bool ClearAll();
};

}  // namespace System
}  // namespace Orvane
