// What the plug-in answered for one WebDAV request: may it be served, may
// it write, the file-system path of the target and its client-side path,
// the COPY/MOVE destination, and the share's folder and size limit. Maps
// other paths of the same share between the two sides. A value type.
#pragma once

#include <cstdint>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace Host {

struct WebDAVTarget {
    bool allow = false;
    bool write = false;
    std::string path;         // native, no trailing "/"
    std::string base;         // decoded client path, as the plug-in gave it
    std::string destination;  // native, "" when not resolved
    std::string shareName;
    std::string shareRoot;  // the share's folder, native
    std::string shareBase;  // "/app/<plugin>/share/<name>"
    std::int64_t sizeLimit = 0;
    bool sizeLimitExceeded = false;

    static WebDAVTarget fromReply(const Data::Message& reply);

    // The client path of a file-system path inside the share (decoded, with
    // a trailing "/" for a folder when `folder`); "" outside the share.
    std::string clientPath(const std::string& native, bool folder) const;
    // The file-system path of a decoded client path inside the share; ""
    // for anything else, and for a path that climbs with "..".
    std::string nativePath(const std::string& client) const;
    bool isShareRoot(const std::string& native) const { return native == shareRoot; }
    // The visitor holds the write right, even where the size limit stopped
    // this one write: such a visitor sees the share's hidden entries.
    bool isWriter() const { return write || sizeLimitExceeded; }
};

}  // namespace Host
}  // namespace Orvane
