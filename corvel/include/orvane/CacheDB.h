// The host's image cache: one SQLite file per picture folder below the
// profile's imagecache/, holding thumbnails and slides by key with the source
// file's modification stamp. Databases are shared and safe from any thread.
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
    // Null for a folder that does not exist.
    static boost::shared_ptr<OrvaneCacheDB> GetCacheDB(const std::string& folder);
    // Removes every cache file (owner's "clearcache").
    static bool ClearAll();
};

}  // namespace System
}  // namespace Orvane
