// The image cache is not built yet: asking for an existing folder's cache
// says so instead of pretending to store anything.
#include "orvane/CacheDB.h"

#include <Poco/Exception.h>
#include <Poco/File.h>

#include "orvane/Exception.h"

namespace Orvane {
namespace System {
namespace {

const char* const kNotAvailable = "The image cache is not available yet";

bool isFolder(const std::string& folder) {
    if (folder.empty())
        return false;
    try {
        Poco::File file(folder);
        return file.exists() && file.isDirectory();
    } catch (const Poco::Exception&) {
        return false;
    }
}

}  // namespace

boost::shared_ptr<OrvaneCacheDB> LocalCacheDBHolder::GetCacheDB(const std::string& folder) {
    if (!isFolder(folder))
        return boost::shared_ptr<OrvaneCacheDB>();
    throw Orvane::Exception(kNotAvailable);
}

bool LocalCacheDBHolder::ClearAll() {
    throw Orvane::Exception(kNotAvailable);
}

}  // namespace System
}  // namespace Orvane
