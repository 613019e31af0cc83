// Path helpers. Paths are judged on their lexical form with "." and ".."
// resolved, and, where the file system has them, on their resolved form too, so
// that neither a ".." nor a symbolic link leads into a refused area.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <mutex>
#include <string>
#include <vector>

#include "orvane/FolderScreen.h"
#include "orvane/ProfileManager.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Util {
namespace {

const char* const kRefusedRoots[] = {"/proc", "/sys", "/dev", "/run"};
const std::uint64_t kDefaultMinFreeMB = 1024;
// More digits than this would overflow once turned into bytes.
const std::size_t kMaxMinFreeDigits = 12;

// The floor of free disk in bytes; a value that is not a plain number of
// megabytes keeps the default.
std::uint64_t minFreeBytes() {
    const std::string text = trim(API::ProfileManager::getProperty("min.free.mb"));
    std::uint64_t megabytes = kDefaultMinFreeMB;
    if (isNumeric(text) && text.size() <= kMaxMinFreeDigits)
        megabytes = std::stoull(text);
    return megabytes * 1024 * 1024;
}

// "." and ".." resolved on the text alone; ".." above the root stays at the root.
std::string normalise(const std::string& path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
            continue;
        }
        parts.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += "/";
        out += parts[i];
    }
    return out.empty() && !absolute ? "." : out;
}

bool realPath(const std::string& path, std::string& out) {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        return false;
    out = buf;
    return true;
}

// The resolved form of an absolute, normalised path: its deepest existing
// ancestor resolved, the rest appended, so that a path still to be created
// below a link is judged by where it would land. When strict, a component
// that exists but does not resolve (a dangling link, a loop, a folder we may
// not search) fails: a file made through a dangling link would land wherever
// it points.
bool resolve(const std::string& path, bool strict, std::string& out) {
    std::string head = path;
    std::string tail;
    while (!head.empty()) {
        std::string real;
        if (realPath(head, real)) {
            out = tail.empty() ? real : normalise(real + "/" + tail);
            return true;
        }
        struct stat st;
        if (strict && ::lstat(head.c_str(), &st) == 0)
            return false;
        const std::size_t slash = head.rfind('/');
        if (slash == std::string::npos || head == "/")
            return false;
        const std::string last = head.substr(slash + 1);
        tail = tail.empty() ? last : last + "/" + tail;
        head = slash == 0 ? "/" : head.substr(0, slash);
    }
    return false;
}

bool resolveExisting(const std::string& path, std::string& out) {
    return resolve(path, false, out);
}

bool resolveStrictly(const std::string& path, std::string& out) {
    return resolve(path, true, out);
}

bool withinNormalised(const std::string& path, const std::string& base) {
    if (base.empty() || path.empty())
        return false;
    if ((path[0] == '/') != (base[0] == '/'))
        return false;
    if (base == "/")
        return true;
    if (path.compare(0, base.size(), base) != 0)
        return false;
    return path.size() == base.size() || path[base.size()] == '/';
}

// The profile folder as given and resolved; both empty when there is none.
struct ProfileForms {
    std::string lexical;
    std::string real;
};

// Asked by every download: the resolved form (a realpath, a readlink per
// component) is kept for the profile it was made for, once the folder
// exists; another profile (tests switch) resolves anew.
ProfileForms profileForms() {
    static std::mutex mutex;
    static std::string known;
    static ProfileForms kept;
    const std::string profile = API::ProfileManager::getProfileRootDir();
    if (profile.empty())
        return ProfileForms();
    std::lock_guard<std::mutex> lock(mutex);
    if (profile == known && !kept.real.empty())
        return kept;
    ProfileForms forms;
    forms.lexical = normalise(profile);
    realPath(profile, forms.real);
    known = profile;
    kept = forms;
    return forms;
}

bool outsideRefusedRoots(const std::string& path) {
    for (const char* root : kRefusedRoots) {
        if (withinNormalised(path, root))
            return false;
    }
    return true;
}

bool outsideProfile(const std::string& path, const std::string& lexical, const std::string& real) {
    return !(!lexical.empty() && withinNormalised(path, lexical)) &&
           !(!real.empty() && withinNormalised(path, real));
}

bool allowedForm(const std::string& path, bool refuseProfile) {
    if (!outsideRefusedRoots(path))
        return false;
    if (!refuseProfile)
        return true;
    const ProfileForms profile = profileForms();
    return outsideProfile(path, profile.lexical, profile.real);
}

}  // namespace

std::string convertPathToNative(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string translatePath(const std::string& path) {
    return convertPathToNative(path);
}

void splitFolder(const std::string& path, std::string& name, std::string& folder) {
    const std::string native = convertPathToNative(path);
    const std::size_t slash = native.rfind('/');
    if (slash == std::string::npos) {
        name = native;
        folder.clear();
        return;
    }
    name = native.substr(slash + 1);
    folder = slash == 0 ? "/" : native.substr(0, slash);
}

std::string addEndingSeparator(const std::string& path) {
    if (path.empty() || path.back() == '/')
        return path;
    return path + "/";
}

bool isAllowedPath(const std::string& path, bool allowHidden, bool refuseProfile) {
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        return false;
    const std::string lexical = normalise(path);
    if (!allowedForm(lexical, refuseProfile))
        return false;
    std::string resolved;
    return !resolveExisting(lexical, resolved) || allowedForm(resolved, refuseProfile);
}

bool isAllowedFile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

bool isFixedDrive(const std::string& drive) {
    return true;
}

bool isPathWithin(const std::string& path, const std::string& base) {
    if (path.empty() || base.empty())
        return false;
    return withinNormalised(normalise(path), normalise(base));
}

bool hasDotComponent(const std::string& path) {
    std::string::size_type start = 0;
    while (start <= path.size()) {
        std::string::size_type end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "." || part == "..")
            return true;
        start = end + 1;
    }
    return false;
}

bool isPathWithinResolved(const std::string& path, const std::string& base) {
    if (!isPathWithin(path, base) || path[0] != '/' || base[0] != '/' ||
        path.find('\0') != std::string::npos || base.find('\0') != std::string::npos)
        return false;
    std::string realPathText, realBase;
    return resolveStrictly(normalise(path), realPathText) &&
           resolveStrictly(normalise(base), realBase) && withinNormalised(realPathText, realBase);
}

// Where the strict resolution succeeds the lenient one of isAllowedPath
// takes the same steps to the same place, so its result serves both.
bool isAllowedPathWithin(const std::string& path, const std::string& base) {
    if (!isPathWithin(path, base) || path[0] != '/' || base[0] != '/' ||
        path.find('\0') != std::string::npos || base.find('\0') != std::string::npos)
        return false;
    const std::string lexical = normalise(path);
    std::string realPathText, realBase;
    return resolveStrictly(lexical, realPathText) && resolveStrictly(normalise(base), realBase) &&
           withinNormalised(realPathText, realBase) && allowedForm(lexical, true) &&
           allowedForm(realPathText, true);
}

bool isHiddenBelow(const std::string& path, const std::string& base) {
    const std::string lexical = normalise(path);
    const std::string root = base.empty() ? std::string() : normalise(base);
    std::string::size_type start = 0;
    if (!root.empty() && withinNormalised(lexical, root))
        start = root == "/" ? 0 : root.size();
    while (start < lexical.size()) {
        if (lexical[start] == '/') {
            ++start;
            continue;
        }
        if (lexical[start] == '.')
            return true;
        start = lexical.find('/', start);
    }
    return false;
}

bool holdsProfile(const std::string& path) {
    if (path.empty())
        return false;
    const std::string lexical = normalise(path);
    if (lexical == "/")
        return true;
    const ProfileForms profile = profileForms();
    std::string real;
    const bool resolved = resolveExisting(lexical, real);
    for (const std::string& folder : {lexical, resolved ? real : lexical}) {
        if ((!profile.lexical.empty() && withinNormalised(profile.lexical, folder)) ||
            (!profile.real.empty() && withinNormalised(profile.real, folder)))
            return true;
    }
    return false;
}

FolderScreen::FolderScreen(const std::string& folder, const std::string& confineTo)
    : m_folder(folder), m_lexical(normalise(folder)), m_confineTo(confineTo) {
    if (!resolveStrictly(m_lexical, m_real))
        m_real.clear();
    const ProfileForms profile = profileForms();
    m_profileLexical = profile.lexical;
    m_profileReal = profile.real;
}

std::string FolderScreen::pathOf(const std::string& base, const std::string& name) const {
    return base.empty() || base.back() == '/' ? base + name : base + "/" + name;
}

// An entry that is no link lies where its folder does: its resolved form is
// the folder's with the name appended, and it cannot lead out of anything.
bool FolderScreen::allows(const std::string& name, struct stat& st, bool& isLink) const {
    return allowsAt(AT_FDCWD, name, st, isLink);
}

bool FolderScreen::allowsAt(int dirFd, const std::string& name, struct stat& st,
                            bool& isLink) const {
    if (m_folder.empty() || m_folder[0] != '/' || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        return false;
    const int found = dirFd == AT_FDCWD ? ::lstat(pathOf(m_folder, name).c_str(), &st)
                                        : ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    if (found != 0)
        return false;
    isLink = S_ISLNK(st.st_mode);
    if (isLink) {
        const std::string path = pathOf(m_folder, name);
        if (!isAllowedPath(path, true, true) || ::stat(path.c_str(), &st) != 0)
            return false;
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            return false;
        return m_confineTo.empty() || isPathWithinResolved(path, m_confineTo);
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return false;
    if (m_real.empty())
        return isAllowedPath(pathOf(m_folder, name), true, true);
    const std::string lexical = pathOf(m_lexical, name);
    const std::string real = pathOf(m_real, name);
    return outsideRefusedRoots(lexical) && outsideRefusedRoots(real) &&
           outsideProfile(lexical, m_profileLexical, m_profileReal) &&
           outsideProfile(real, m_profileLexical, m_profileReal);
}

// A path still to be made is judged by the nearest folder above it that exists.
bool hasFreeSpace(const std::string& path, std::uint64_t bytesToWrite) {
    std::string probe = path.empty() ? std::string("/") : path;
    struct statvfs fs;
    while (::statvfs(probe.c_str(), &fs) != 0) {
        const std::string::size_type slash = probe.find_last_of('/');
        if ((errno != ENOENT && errno != ENOTDIR) || slash == std::string::npos || probe == "/")
            return false;
        probe = slash == 0 ? std::string("/") : probe.substr(0, slash);
    }
    const std::uint64_t available =
        static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_frsize);
    const std::uint64_t floor = minFreeBytes();
    return available >= floor && available - floor >= bytesToWrite;
}

bool setCustomPermissions(const std::string& path, bool isFolder) {
    if (path.empty())
        return false;
    return ::chmod(path.c_str(), isFolder ? 0755 : 0644) == 0;
}

}  // namespace Util
}  // namespace Orvane
