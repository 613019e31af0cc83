// Folder listings for the host's explorer pages, in the XML formats described
// in Util.h. Every name and path is escaped; entries the host refuses to show
// (devices, system folders, the profile) are left out.
#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "orvane/Exception.h"
#include "orvane/FolderScreen.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Util {
namespace {

// Deep enough for any real tree, shallow enough to stop a runaway walk.
const int kMaxDepth = 32;

struct Entry {
    std::string name;
    std::string path;
    std::string folder;  // the folder holding the entry
    std::string ext;     // lower-cased; "" when none
    bool isDir = false;
    bool isLink = false;
    std::int64_t size = 0;
    Poco::Timestamp modified;
};

struct ListOptions {
    std::string filter;
    std::string search;  // lower-cased
    bool showHidden = false;
    bool recursive = false;
    // When set, links leading out of this folder are left out.
    std::string root;
};

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string extensionOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : lower(name.substr(dot + 1));
}

bool hasParentComponent(const std::string& path) {
    return path == ".." || path.compare(0, 3, "../") == 0 ||
           path.find("/../") != std::string::npos ||
           (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0);
}

// The folder to list, or an exception saying why it cannot be listed.
std::string checkedFolder(const std::string& path) {
    const std::string folder = convertPathToNative(path);
    if (hasParentComponent(folder))
        throw Orvane::Exception("Path may not contain '..': " + path);
    if (!isAllowedPath(folder, true, true))
        throw Orvane::Exception("Path is not allowed: " + path);
    if (!isAllowedFile(folder) || !Poco::File(folder).isDirectory()) {
        throw Orvane::Exception("Not a folder: " + path);
    }
    return folder;
}

std::string childPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool isInSet(const std::string& ext, std::initializer_list<const char*> set) {
    for (const char* e : set) {
        if (ext == e)
            return true;
    }
    return false;
}

bool passesFilter(const Entry& e, const ListOptions& options) {
    if (!options.search.empty() && lower(e.name).find(options.search) == std::string::npos) {
        return false;
    }
    // Folders stay in filtered lists so that the visitor can go down into them.
    if (e.isDir)
        return true;
    if (options.filter == "audio") {
        return isInSet(e.ext, {"mp3", "m4a", "aac", "ogg", "oga", "opus", "wav", "flac", "wma",
                               "aif", "aiff"});
    }
    if (options.filter == "pictures") {
        return isInSet(
            e.ext, {"jpg", "jpeg", "jpe", "png", "gif", "bmp", "tif", "tiff", "webp", "heic", "cr2",
                    "nef", "arw", "dng", "orf", "rw2", "raf", "pef", "srw"});
    }
    return true;
}

// False when the entry vanished or cannot be shown.
bool readEntry(const FolderScreen& screen, const std::string& folder, const std::string& name,
               Entry& e) {
    struct stat st;
    if (!screen.allows(name, st, e.isLink))
        return false;
    e.name = name;
    e.folder = folder;
    e.path = childPath(folder, name);
    e.isDir = S_ISDIR(st.st_mode);
    e.size = e.isDir ? 0 : static_cast<std::int64_t>(st.st_size);
    e.modified = Poco::Timestamp::fromEpochTime(st.st_mtime);
    e.ext = e.isDir ? "" : extensionOf(name);
    return true;
}

void collect(const std::string& folder, const ListOptions& options, int depth,
             std::vector<Entry>& out) {
    std::vector<Entry> here;
    const FolderScreen screen(folder, options.root);
    try {
        for (Poco::DirectoryIterator it(folder), end; it != end; ++it) {
            const std::string name = it.name();
            if (!options.showHidden && !name.empty() && name[0] == '.')
                continue;
            Entry e;
            if (readEntry(screen, folder, name, e))
                here.push_back(e);
        }
    } catch (const Poco::Exception&) {
        if (depth == 0)
            throw Orvane::Exception("Cannot read folder: " + folder);
        return;  // an unreadable sub-folder only loses its own entries
    }
    for (const Entry& e : here) {
        if (passesFilter(e, options))
            out.push_back(e);
        // Linked folders are not walked: a link back up would never end.
        if (options.recursive && e.isDir && !e.isLink && depth + 1 < kMaxDepth) {
            collect(e.path, options, depth + 1, out);
        }
    }
}

int compareNames(const Entry& a, const Entry& b) {
    const int folded = lower(a.name).compare(lower(b.name));
    return folded != 0 ? folded : a.name.compare(b.name);
}

int compareBy(const Entry& a, const Entry& b, int sortBy) {
    switch (sortBy) {
        case 1:
            if (a.size != b.size)
                return a.size < b.size ? -1 : 1;
            break;
        case 2:
            if (a.modified != b.modified)
                return a.modified < b.modified ? -1 : 1;
            break;
        case 3:
            if (a.ext != b.ext)
                return a.ext < b.ext ? -1 : 1;
            break;
        default:
            break;
    }
    return compareNames(a, b);
}

void sortEntries(std::vector<Entry>& entries, int sortBy, int sortOrder) {
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.isDir != b.isDir)
            return a.isDir;
        const int c = compareBy(a, b, sortBy);
        return sortOrder == 1 ? c > 0 : c < 0;
    });
}

std::string element(const char* tag, const std::string& value) {
    return std::string("<") + tag + ">" + xmlEscape(value) + "</" + tag + ">";
}

std::string entryXML(const Entry& e, bool writable) {
    std::string xml = "<entry>" + element("name", e.name) + element("path", e.path) +
                      element("fullfilename", e.path) +
                      element("dirpath", e.isDir ? e.path : e.folder);
    if (e.isDir) {
        xml += "<type>dir</type><ext>n/a</ext>";
    } else {
        xml += "<type>file</type>" + element("ext", e.ext.empty() ? "n/a" : e.ext) +
               element("size", readableFileSize(e.size, 2)) +
               element("fullsize", std::to_string(e.size));
    }
    xml += element("modified", localNiceTimeStrFromUTCTime(e.modified));
    if (writable && ::access(e.path.c_str(), W_OK) == 0)
        xml += "<writable>1</writable>";
    return xml + "</entry>";
}

}  // namespace

std::string getFileListXML(const std::string& path, int start, int limit, const std::string& filter,
                           const std::string& search, int sortBy, int sortOrder, int writable,
                           int showHidden, bool recursive) {
    return getFileListXMLWithin("", path, start, limit, filter, search, sortBy, sortOrder, writable,
                                showHidden, recursive);
}

std::string getFileListXMLWithin(const std::string& root, const std::string& path, int start,
                                 int limit, const std::string& filter, const std::string& search,
                                 int sortBy, int sortOrder, int writable, int showHidden,
                                 bool recursive) {
    const std::string folder = checkedFolder(path);
    ListOptions options;
    options.root = root;
    options.filter = filter;
    options.search = lower(search);
    options.showHidden = showHidden != 0;
    options.recursive = recursive;
    std::vector<Entry> entries;
    collect(folder, options, 0, entries);
    sortEntries(entries, sortBy, sortOrder);

    // The folder's own right, so that a page can offer new items in an
    // empty folder as well.
    const bool folderWritable = writable != 0 && ::access(folder.c_str(), W_OK) == 0;
    std::string xml = "<entries><meta>" + element("parentpath", folder) + "<isroot>0</isroot>" +
                      element("total", std::to_string(entries.size())) +
                      (folderWritable ? "<writable>1</writable>" : "") + "</meta>";
    const std::size_t first = start > 0 ? static_cast<std::size_t>(start) : 0;
    std::size_t shown = 0;
    for (std::size_t i = first; i < entries.size(); ++i) {
        if (limit >= 0 && shown >= static_cast<std::size_t>(limit))
            break;
        xml += entryXML(entries[i], writable != 0);
        ++shown;
    }
    return xml + "</entries>";
}

std::string getDirectoryListXML(const std::string& directory) {
    return getDirectoryListXMLWithin("", directory);
}

std::string getDirectoryListXMLWithin(const std::string& root, const std::string& directory) {
    const std::string folder = checkedFolder(directory);
    ListOptions options;
    options.root = root;
    std::vector<Entry> entries;
    collect(folder, options, 0, entries);
    sortEntries(entries, 0, 0);
    std::string xml = "<directories>";
    for (const Entry& e : entries) {
        if (!e.isDir)
            continue;
        xml += "<directory>" + element("name", e.name) + element("path", e.path) +
               element("dirpath", e.path) + "</directory>";
    }
    return xml + "</directories>";
}

}  // namespace Util
}  // namespace Orvane
