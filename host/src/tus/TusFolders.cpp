#include "tus/TusFolders.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "http/WriteFailure.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

namespace {

const std::size_t kMaxDepth = 64;
const std::size_t kMaxName = 255;

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (std::string::size_type slash; (slash = path.find('/', start)) != std::string::npos;
         start = slash + 1)
        parts.push_back(path.substr(start, slash - start));
    parts.push_back(path.substr(start));
    return parts;
}

// As the plug-in judges a target folder, and hidden names never.
bool usable(const std::string& name) {
    return !name.empty() && name.size() <= kMaxName && name[0] != '.' &&
           name.find("..") == std::string::npos && Util::sanitizeString(name, false) == name;
}

}  // namespace

bool TusFolders::read(const std::string& relativePath, const std::string& fileName,
                      std::string& folders) {
    folders.clear();
    if (relativePath.empty())
        return true;
    if (relativePath[0] == '/')
        return false;
    std::vector<std::string> parts = split(relativePath);
    if (parts.back() == fileName)
        parts.pop_back();
    if (parts.size() > kMaxDepth)
        return false;
    for (const auto& part : parts) {
        if (!usable(part))
            return false;
        folders += (folders.empty() ? "" : "/") + part;
    }
    return true;
}

std::string TusFolders::make(const std::string& target, const std::string& folders) {
    std::string path = target;
    if (folders.empty())
        return path;
    for (const auto& part : split(folders)) {
        path += "/" + part;
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
            throw WriteFailure("cannot make the folder " + path + ": " + ::strerror(errno), errno);
        }
        struct stat st;
        // What is there may be a link, made since the upload began.
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            !Util::isPathWithinResolved(path, target))
            throw WriteFailure(path + " is no folder inside the target", EACCES);
    }
    return path;
}

}  // namespace Host
}  // namespace Orvane
