#include "webdav/WebDAVFolderMembers.h"

#include <Poco/Exception.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "http/TempFile.h"

namespace Orvane {
namespace Host {

// A link is a member only when it leads below the folder; one that leads
// out of the share would be refused when asked for anyway.
WebDAVFolderMembers::WebDAVFolderMembers(const std::string& folder, bool withHidden)
    : m_folder(folder), m_screen(folder, folder), m_dir(::opendir(folder.c_str())) {
    if (m_dir)
        read(withHidden);
}

WebDAVFolderMembers::~WebDAVFolderMembers() {
    if (m_dir)
        ::closedir(m_dir);
}

void WebDAVFolderMembers::read(bool withHidden) {
    std::string name;
    while (struct dirent* entry = ::readdir(m_dir)) {
        name = entry->d_name;
        if (name == "." || name == ".." || TempFile::isTempName(name) ||
            (name[0] == '.' && !withHidden))
            continue;
        // What the directory already says is no file or folder needs no lstat.
        if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_REG && entry->d_type != DT_DIR &&
            entry->d_type != DT_LNK)
            continue;
        if (m_names.size() + name.size() > UINT32_MAX)
            throw Poco::RuntimeException("too many names in " + m_folder);
        const Entry e{static_cast<std::uint32_t>(m_names.size()),
                      static_cast<std::uint32_t>(name.size())};
        m_names += name;
        m_entries.push_back(e);
    }
    // The paths share the folder's part: their order is their names'.
    const char* names = m_names.data();
    std::sort(m_entries.begin(), m_entries.end(), [names](const Entry& a, const Entry& b) {
        return std::string_view(names + a.start, a.length) <
               std::string_view(names + b.start, b.length);
    });
}

// One lstat per member (a link's target is stat'ed too), looked up by name
// in the open folder.
bool WebDAVFolderMembers::next(Member& member) {
    while (m_next < m_entries.size()) {
        const Entry& entry = m_entries[m_next++];
        member.name.assign(m_names.data() + entry.start, entry.length);
        struct stat st;
        bool isLink = false;
        if (!m_screen.allowsAt(::dirfd(m_dir), member.name, st, isLink))
            continue;
        member.path.assign(m_folder);
        member.path += '/';
        member.path += member.name;
        member.info = WebDAVFileInfo::of(st);
        return true;
    }
    return false;
}

}  // namespace Host
}  // namespace Orvane
