// The folders a folder upload brings (its relativePath, as a browser gives
// webkitRelativePath): read into the folders below the target, refused when
// one would climb out, be hidden or hold control characters, and made one
// by one below the target once the file is complete, each checked again on
// the disk (no link may lead out of the target). Pure functions,
// thread-safe.
#pragma once

#include <string>

namespace Orvane {
namespace Host {

class TusFolders {
public:
    // The "/"-separated folders of `relativePath` below the target; its
    // last part is left out when it is the file's own name. False when it
    // names a folder that may not be made here.
    static bool read(const std::string& relativePath, const std::string& fileName,
                     std::string& folders);
    // Makes `folders` below `target` and returns the innermost. Throws
    // WriteFailure (EACCES when a folder leads out of the target or is no
    // folder).
    static std::string make(const std::string& target, const std::string& folders);
};

}  // namespace Host
}  // namespace Orvane
