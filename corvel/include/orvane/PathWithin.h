// Confinement of paths to a shared folder where symbolic links count: the
// lexical test of Util.h (isPathWithin) says nothing about where a link
// inside the folder leads. Pure functions on the file system, thread-safe.
#pragma once

#include <string>

namespace Orvane {
namespace Util {

// isPathWithin, and also once the symbolic links of both are resolved (the
// existing part of a path still to be made is judged by where it would
// land). A link inside base that leads out of it, a dangling link and a path
// holding a NUL byte are not within base; a link that stays inside is.
bool isPathWithinResolved(const std::string& path, const std::string& base);
// True when a "/"-separated component of path is "." or "..".
bool hasDotComponent(const std::string& path);

// getFileListXML and getDirectoryListXML of Util.h for a visitor confined to
// root: entries that are links leading out of root (or dangling) are left
// out. An empty root confines nothing.
std::string getFileListXMLWithin(const std::string& root, const std::string& path, int start,
                                 int limit, const std::string& filter, const std::string& search,
                                 int sortBy, int sortOrder, int writable, int showHidden,
                                 bool recursive);
std::string getDirectoryListXMLWithin(const std::string& root, const std::string& directory);

}  // namespace Util
}  // namespace Orvane
