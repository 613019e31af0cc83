// The host machine's folders for the owner console's folder picker, and the
// size of a shared folder. Only absolute paths without "." or ".." parts
// that Util::isAllowedPath accepts (no /proc, /sys, /dev, /run, no profile)
// are listed or measured; hidden entries are left out. Throws OwnerError.
// Stateless, thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Host {

class OwnerFolders {
public:
    // {"path":P,"parent":P|null,"folders":[{"name":N,"path":P},...],
    //  "truncated":bool}; an empty path lists the owner's home folder (or
    //  "/" when the home folder may not be shown).
    static std::string list(const std::string& path);
    // {"path":P,"bytes":N,"folder":bool}: the regular, non-hidden files
    // below a folder (each folder counted once, links followed), or the
    // size of a file.
    static std::string size(const std::string& path);

    // The path without trailing slashes; throws OwnerError when it may not
    // be shown (400 not absolute, 403 refused, 404 missing).
    static std::string checked(const std::string& path);

    static const std::size_t kMaxEntries = 5000;
};

}  // namespace Host
}  // namespace Orvane
