#include "owner/OwnerFolders.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/String.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "orvane/Util.h"
#include "owner/OwnerError.h"
#include "owner/OwnerJson.h"

namespace Orvane {
namespace Host {

namespace {

typedef std::set<std::pair<dev_t, ino_t>> Visited;

std::string childPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string parentOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string homeFolder() {
    std::string home = Poco::Path::home();
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

bool firstVisit(const std::string& folder, Visited& visited) {
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0)
        return false;
    return visited.insert(std::make_pair(info.st_dev, info.st_ino)).second;
}

std::int64_t folderBytes(const std::string& folder, Visited& visited) {
    std::int64_t total = 0;
    try {
        for (Poco::DirectoryIterator it(folder), end; it != end; ++it) {
            if (it.name().empty() || it.name()[0] == '.')
                continue;
            try {
                if (it->isDirectory()) {
                    if (firstVisit(it->path(), visited))
                        total += folderBytes(it->path(), visited);
                } else if (it->isFile()) {
                    total += static_cast<std::int64_t>(it->getSize());
                }
            } catch (const Poco::Exception&) {
                // Gone meanwhile or unreadable: counts nothing.
            }
        }
    } catch (const Poco::Exception&) {
        // A sub-folder that cannot be opened counts nothing.
    }
    return total;
}

struct Entry {
    std::string name, path;
};

std::vector<Entry> subFolders(const std::string& folder, bool& truncated) {
    std::vector<Entry> entries;
    truncated = false;
    for (Poco::DirectoryIterator it(folder), end; it != end; ++it) {
        const std::string name = it.name();
        if (name.empty() || name[0] == '.')
            continue;
        const std::string path = childPath(folder, name);
        try {
            if (!Poco::File(path).isDirectory() || !Util::isAllowedPath(path, false, true))
                continue;
        } catch (const Poco::Exception&) {
            continue;  // a dangling link, or gone meanwhile
        }
        if (entries.size() == OwnerFolders::kMaxEntries) {
            truncated = true;
            break;
        }
        entries.push_back(Entry{name, path});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int folded = Poco::icompare(a.name, b.name);
        return folded != 0 ? folded < 0 : a.name < b.name;
    });
    return entries;
}

}  // namespace

std::string OwnerFolders::checked(const std::string& text) {
    std::string path = text;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty() || path[0] != '/' || Util::hasDotComponent(path) ||
        path.find('\0') != std::string::npos) {
        throw OwnerError(400, "Give an absolute path, without \".\" or \"..\" parts.");
    }
    if (!Util::isAllowedPath(path, false, true))
        throw OwnerError(403, "The host does not show or share this folder: " + path);
    try {
        if (!Poco::File(path).exists())
            throw OwnerError(404, "There is nothing at " + path);
    } catch (const Poco::Exception&) {
        throw OwnerError(404, "There is nothing at " + path);
    }
    return path;
}

std::string OwnerFolders::list(const std::string& requested) {
    std::string start = requested;
    if (start.empty()) {
        // A home folder the host may not show (none, or below /run) starts
        // the picker at the top instead.
        start = homeFolder();
        if (start.empty() || start[0] != '/' || !Util::isAllowedPath(start, false, true))
            start = "/";
    }
    const std::string path = checked(start);
    std::vector<Entry> entries;
    bool truncated = false;
    try {
        if (!Poco::File(path).isDirectory())
            throw OwnerError(400, "This is not a folder: " + path);
        entries = subFolders(path, truncated);
    } catch (const Poco::Exception&) {
        throw OwnerError(403, "The host cannot read the folder " + path);
    }
    std::vector<OwnerJson> folders;
    for (const Entry& entry : entries)
        folders.push_back(OwnerJson().field("name", entry.name).field("path", entry.path));
    OwnerJson answer;
    answer.field("path", path);
    if (path == "/")
        answer.null("parent");
    else
        answer.field("parent", parentOf(path));
    return answer.array("folders", folders).field("truncated", truncated).str();
}

std::string OwnerFolders::size(const std::string& requested) {
    const std::string path = checked(requested);
    try {
        Poco::File file(path);
        if (file.isFile()) {
            return OwnerJson()
                .field("path", path)
                .field("bytes", static_cast<std::int64_t>(file.getSize()))
                .field("folder", false)
                .str();
        }
        if (!file.isDirectory())
            throw OwnerError(400, "Only folders and files have a size here: " + path);
    } catch (const Poco::Exception&) {
        throw OwnerError(403, "The host cannot read " + path);
    }
    Visited visited;
    firstVisit(path, visited);
    return OwnerJson()
        .field("path", path)
        .field("bytes", folderBytes(path, visited))
        .field("folder", true)
        .str();
}

}  // namespace Host
}  // namespace Orvane
