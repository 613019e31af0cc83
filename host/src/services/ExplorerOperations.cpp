#include "services/ExplorerOperations.h"

#include <Poco/Logger.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "http/TempFile.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceReservation.h"
#include "services/ExplorerTree.h"

namespace Orvane {
namespace Host {

namespace {

const char* const NOT_ALLOWED = "This path is not allowed";
const char* const NOT_THERE = "The file or folder does not exist";
const char* const TAKEN = "A file or folder of that name exists already";
const char* const NO_FOLDER = "The target folder does not exist";

Poco::Logger& log() {
    return Poco::Logger::get("Explorer");
}

bool hasControl(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

bool entryExists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool isLink(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool isFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRealFolder(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Where the path really leads, so that a folder reached through a link is
// still recognised as itself.
std::string realOf(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    const std::string out = real;
    std::free(real);
    return out;
}

std::string folderOf(const std::string& path) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    return folder;
}

std::string nameOf(const std::string& path) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    return name;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The visitor learns what went wrong, never a path or a system text.
std::string reason(int error, const std::string& fallback) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "There is no room left on the disk";
        case EACCES:
        case EPERM:
        case EROFS:
            return "The host may not change this place";
        case EEXIST:
        case ENOTEMPTY:
            return TAKEN;
        case ENOENT:
            return NOT_THERE;
        case ENAMETOOLONG:
            return "The name is too long";
        default:
            return fallback;
    }
}

[[noreturn]] void failed(const std::string& what, int error, const std::string& fallback) {
    log().warning(what + ": " + std::strerror(error));
    throw ExplorerError(200, reason(error, fallback));
}

[[noreturn]] void failed(const WriteFailure& e, const std::string& fallback) {
    log().warning(e.what());
    throw ExplorerError(200, reason(e.error(), fallback));
}

using Storage::ShareSpace;
using Storage::SpaceReservation;

[[noreturn]] void noRoom(const SpaceReservation& room) {
    throw ExplorerError(200, room.verdict() == SpaceReservation::OVER_LIMIT
                                 ? "Size Limit Exceeded"
                                 : "There is no room left on the disk");
}

// A failed write: the share's or the disk's room when that ran out.
[[noreturn]] void failedWrite(const WriteFailure& e, const SpaceReservation& room,
                              const std::string& fallback) {
    if (!room.fits())
        noRoom(room);
    failed(e, fallback);
}

bool onOneDisk(const std::string& a, const std::string& b) {
    struct stat one, two;
    return ::lstat(a.c_str(), &one) == 0 && ::stat(b.c_str(), &two) == 0 &&
           one.st_dev == two.st_dev;
}

// A move from one share into another takes room in the second; a rename on
// one disk writes nothing, so only a move to another disk asks the disk.
SpaceReservation claimForMove(const std::string& from, const std::string& to,
                              const ExplorerShares& shares, std::int64_t size) {
    const std::string folder = folderOf(to);
    SpaceReservation room(shares.root, shares.limit, onOneDisk(from, folder) ? "" : folder,
                          static_cast<std::uint64_t>(size));
    if (!room.fits())
        noRoom(room);
    return room;
}

bool crossesShares(const ExplorerShares& shares) {
    return !shares.root.empty() && !shares.sourceRoot.empty() &&
           Util::convertPathToNative(shares.root) != Util::convertPathToNative(shares.sourceRoot);
}

// A rename that never replaces what is there, even when it appears meanwhile.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // File systems without the flag: checked just before, as well as we can.
    if (entryExists(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void refuseIntoItself(const std::string& source, const std::string& targetFolder,
                      const std::string& message) {
    if (isRealFolder(source) && Util::isPathWithin(realOf(targetFolder), realOf(source)))
        throw ExplorerError(200, message);
}

// Another disk: copied whole, then the original removed. Links and special
// files would be lost on the way, so such a folder stays where it is.
void moveAcross(const std::string& from, const std::string& to, SpaceReservation& room) {
    if (isLink(from))
        throw ExplorerError(200, "A link cannot be moved to another disk");
    int skipped = 0;
    try {
        ExplorerTree::copyTo(from, to, skipped, &room);
    } catch (const WriteFailure& e) {
        failedWrite(e, room, "The file or folder could not be moved");
    }
    if (skipped > 0) {
        try {
            ExplorerTree::remove(to);
        } catch (const WriteFailure& e) {
            log().warning(e.what());
        }
        throw ExplorerError(200, "The folder holds links or special files and stays where it is");
    }
    try {
        ExplorerTree::remove(from);
    } catch (const WriteFailure& e) {
        log().warning(e.what());
        throw ExplorerError(200, "The copy is in place, but the original could not be removed");
    }
}

}  // namespace

std::string ExplorerOperations::checkedPath(const std::string& text) {
    if (text.empty() || text[0] != '/' || hasControl(text) || Util::hasDotComponent(text))
        throw ExplorerError(403, NOT_ALLOWED);
    const std::string path = Util::convertPathToNative(text);
    if (path == "/" || !Util::isAllowedPath(path, true, true))
        throw ExplorerError(403, NOT_ALLOWED);
    return path;
}

bool ExplorerOperations::isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           !hasControl(name);
}

std::string ExplorerOperations::createFolder(const std::string& path) {
    if (!isFolder(folderOf(path)))
        throw ExplorerError(200, "The parent folder does not exist");
    if (::mkdir(path.c_str(), 0755) != 0)
        failed("mkdir " + path, errno, "The folder could not be created");
    return "Folder created";
}

std::string ExplorerOperations::rename(const std::string& path, const std::string& name) {
    if (!isPlainName(name))
        throw ExplorerError(400, "The new name must be a plain name");
    if (!entryExists(path))
        throw ExplorerError(200, NOT_THERE);
    const std::string target = checkedPath(joined(folderOf(path), name));
    if (const int error = renameNoReplace(path, target))
        failed("rename " + path, error, "The file or folder could not be renamed");
    return "Renamed";
}

std::string ExplorerOperations::remove(const std::string& path, const ExplorerShares& shares) {
    if (!entryExists(path))
        throw ExplorerError(200, NOT_THERE);
    const std::int64_t size = shares.root.empty() ? 0 : ShareSpace::sizeOf(path);
    try {
        ExplorerTree::remove(path);
    } catch (const WriteFailure& e) {
        // What went stays counted until the share is walked again.
        failed(e, "Not everything could be deleted");
    }
    if (!shares.root.empty())
        ShareSpace::instance().changed(shares.root, -size);
    return "Deleted";
}

std::string ExplorerOperations::copy(const std::string& source, const std::string& folder,
                                     const ExplorerShares& shares) {
    if (!entryExists(source))
        throw ExplorerError(200, NOT_THERE);
    if (isLink(source))
        throw ExplorerError(200, "Links are not copied");
    checkFolder(folder);
    refuseIntoItself(source, folder, "A folder cannot be copied into itself");
    SpaceReservation room(shares.root, shares.limit, folder,
                          static_cast<std::uint64_t>(ShareSpace::sizeOf(source)));
    if (!room.fits())
        noRoom(room);
    int skipped = 0;
    std::string copied;
    try {
        copied = ExplorerTree::copyUnique(source, folder, nameOf(source), skipped, &room);
    } catch (const WriteFailure& e) {
        failedWrite(e, room, "The copy could not be made");
    }
    room.keep(room.written());
    std::string message = "Copied to " + nameOf(copied);
    if (skipped > 0)
        message += "; " + std::to_string(skipped) + " links or special files left out";
    return message;
}

std::string ExplorerOperations::move(const std::string& from, const std::string& to,
                                     const ExplorerShares& shares) {
    if (!entryExists(from))
        throw ExplorerError(200, NOT_THERE);
    if (!isFolder(folderOf(to)))
        throw ExplorerError(200, NO_FOLDER);
    if (entryExists(to))
        throw ExplorerError(200, TAKEN);
    refuseIntoItself(from, folderOf(to), "A folder cannot be moved into itself");
    const bool crosses = crossesShares(shares);
    const std::int64_t size = crosses ? ShareSpace::sizeOf(from) : 0;
    SpaceReservation room = crosses ? claimForMove(from, to, shares, size) : SpaceReservation();
    const int error = renameNoReplace(from, to);
    if (error == EXDEV)
        moveAcross(from, to, room);
    else if (error != 0)
        failed("move " + from, error, "The file or folder could not be moved");
    if (crosses) {
        room.keep(static_cast<std::uint64_t>(size));
        ShareSpace::instance().changed(shares.sourceRoot, -size);
    }
    return "Moved";
}

bool ExplorerOperations::exists(const std::string& path) {
    return entryExists(path);
}

void ExplorerOperations::checkFolder(const std::string& path) {
    if (!isFolder(path) || !Util::isAllowedFile(path))
        throw ExplorerError(200, NO_FOLDER);
}

}  // namespace Host
}  // namespace Orvane
