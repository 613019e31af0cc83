// The host's image cache: one SQLite file per picture folder below the
// profile's imagecache/ (named by a hash of the folder's path), holding
// thumbnails and slides by key with the source file's modification stamp.
// Databases are shared and safe from any thread; the calls throw
// Orvane::Exception when the file cannot be read or written.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <functional>
#include <string>

namespace Orvane {
namespace System {

class OrvaneCacheDB {
public:
    // Gets a stored picture's bytes, valid only during the call (they are
    // the database's own, not a copy).
    typedef std::function<void(const char* bytes, std::size_t length)> PictureSink;

    virtual ~OrvaneCacheDB() = default;

    // A page's picture in one read: hands the entry for `key` to `sink` when
    // it carries `stamp`, and returns true; false (sink not called) when
    // there is none or it is stale. The same as is...Present followed by
    // get...Image, without a second look-up or a copy.
    virtual bool readCurrentThumb(const std::string& key, const std::string& stamp,
                                  const PictureSink& sink) = 0;
    virtual bool readCurrentSlide(const std::string& key, const std::string& stamp,
                                  const PictureSink& sink) = 0;

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
