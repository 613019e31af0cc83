// The members of one folder that a PROPFIND of depth 1 lists, in name
// order. The names are read in one pass over the directory and kept side by
// side in one buffer (some 25 bytes a member); a member's facts are read only when its turn comes,
// so that a folder of 100,000 members never has them all in memory at once. Hidden members only for
// a visitor who may write (the "._" files that clients such as the Finder keep); never the profile
// or a system folder, which a share holding them must not show either; a link only when it leads
// below the folder. One instance per request, used by the request's thread; it keeps the folder
// open.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <string>
#include <vector>

#include "orvane/FolderScreen.h"
#include "webdav/WebDAVExchange.h"

namespace Orvane {
namespace Host {

class WebDAVFolderMembers {
public:
    struct Member {
        std::string name;
        std::string path;
        WebDAVFileInfo info;
    };

    // `folder`: native, no trailing "/". A folder that cannot be read has
    // no members.
    WebDAVFolderMembers(const std::string& folder, bool withHidden);
    ~WebDAVFolderMembers();
    WebDAVFolderMembers(const WebDAVFolderMembers&) = delete;
    WebDAVFolderMembers& operator=(const WebDAVFolderMembers&) = delete;

    // No name was read (members may still be refused one by one).
    bool empty() const { return m_entries.empty(); }
    // Fills `member` with the next member still there and allowed; false
    // after the last. `member`'s strings keep their room from call to call.
    bool next(Member& member);

private:
    struct Entry {
        std::uint32_t start;
        std::uint32_t length;
    };

    void read(bool withHidden);

    const std::string m_folder;
    const Util::FolderScreen m_screen;
    DIR* m_dir = nullptr;
    std::string m_names;
    std::vector<Entry> m_entries;
    std::size_t m_next = 0;
};

}  // namespace Host
}  // namespace Orvane
