// The WebDAV methods that create and remove: PUT (streamed into a temporary
// file beside the target and renamed over it, with or without a length,
// its room reserved in the share before the first byte and charged chunk by
// chunk: 507 at the share's limit or the disk's floor), MKCOL and DELETE
// (which gives the share its bytes back), each after the write right, lock
// and If checks. Stateless.
#pragma once

#include <string>

#include "webdav/WebDAVMethod.h"

namespace Orvane {
namespace Host {

class WebDAVWriter {
public:
    static WebDAVMethods methods();

    static std::string parentOf(const std::string& path);
    // Removes a file or a folder with all it holds, with its dead
    // properties and its locks. Throws Poco::Exception on failure.
    static void removeTree(const std::string& path);
};

}  // namespace Host
}  // namespace Orvane
