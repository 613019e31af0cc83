#include "services/ExplorerTree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "http/FileDescriptor.h"
#include "http/TempFile.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

namespace {

// Deeper trees are refused rather than risk running out of descriptors.
const int kMaxDepth = 256;
const std::size_t kChunk = 256 * 1024;
const int kMaxNumber = 10000;

[[noreturn]] void fail(const std::string& what) {
    const int error = errno;
    throw WriteFailure(what + ": " + std::strerror(error), error);
}

int openFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open the folder " + path);
    return fd;
}

// The folder holding `path`, opened (links above the entry are the
// caller's checked path), and the entry's own name.
int openParent(const std::string& path, std::string& name) {
    std::string folder;
    Util::splitFolder(path, name, folder);
    if (name.empty() || folder.empty()) {
        errno = EINVAL;
        fail("not a full path: " + path);
    }
    return openFolder(folder);
}

int openChildFolder(int parent, const std::string& name) {
    return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::vector<std::string> namesIn(int folderFd) {
    const int copy = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        fail("cannot read a folder");
    }
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        errno = error;
        fail("cannot read a folder");
    }
    return names;
}

void checkDepth(int depth) {
    if (depth >= kMaxDepth)
        throw WriteFailure("the folders are nested too deeply", ELOOP);
}

void removeEntry(int parent, const std::string& name, int depth) {
    struct stat info;
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return;  // gone already: that is what was asked
        fail("cannot examine " + name);
    }
    if (!S_ISDIR(info.st_mode)) {
        if (::unlinkat(parent, name.c_str(), 0) != 0 && errno != ENOENT)
            fail("cannot remove " + name);
        return;
    }
    checkDepth(depth);
    {
        // Fails rather than follows when the folder was swapped for a link.
        FileDescriptor folder(openChildFolder(parent, name));
        if (folder.get() < 0)
            fail("cannot open the folder " + name);
        for (const auto& child : namesIn(folder.get()))
            removeEntry(folder.get(), child, depth + 1);
    }
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        fail("cannot remove the folder " + name);
}

void removeQuietly(int parent, const std::string& name) {
    try {
        removeEntry(parent, name, 0);
    } catch (const WriteFailure&) {
        // The copy's own failure is what the caller must hear of.
    }
}

void copyData(int in, int out, Storage::SpaceReservation* room) {
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0)
            return;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot read the file");
        }
        TempFile::charge(room, static_cast<std::uint64_t>(got));
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, got - done);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                fail("cannot write the copy");
            }
            done += put;
        }
    }
}

// One copy under way: what it left out and the room it is charged to.
struct CopyJob {
    int& skipped;
    Storage::SpaceReservation* room;
};

bool copyEntry(int srcParent, const std::string& srcName, int dstParent, const std::string& dstName,
               int depth, CopyJob& job);

// False when dstName is taken.
bool copyFile(int srcParent, const std::string& srcName, const struct stat& info, int dstParent,
              const std::string& dstName, CopyJob& job) {
    // O_NONBLOCK: a fifo swapped in meanwhile must not hang the open.
    FileDescriptor in(
        ::openat(srcParent, srcName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat now;
    if (in.get() < 0 || ::fstat(in.get(), &now) != 0)
        fail("cannot open " + srcName);
    if (!S_ISREG(now.st_mode))
        throw WriteFailure(srcName + " is no longer a file", EINVAL);
    const mode_t mode = (info.st_mode & 0777) | 0600;
    FileDescriptor out(::openat(dstParent, dstName.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (out.get() < 0) {
        if (errno == EEXIST)
            return false;
        fail("cannot create " + dstName);
    }
    try {
        copyData(in.get(), out.get(), job.room);
        if (out.close() != 0)
            fail("cannot write the copy");
    } catch (const WriteFailure&) {
        ::unlinkat(dstParent, dstName.c_str(), 0);
        throw;
    }
    return true;
}

bool copyFolder(int srcParent, const std::string& srcName, const struct stat& info, int dstParent,
                const std::string& dstName, int depth, CopyJob& job) {
    checkDepth(depth);
    FileDescriptor in(openChildFolder(srcParent, srcName));
    if (in.get() < 0)
        fail("cannot open the folder " + srcName);
    if (::mkdirat(dstParent, dstName.c_str(), 0700) != 0) {
        if (errno == EEXIST)
            return false;
        fail("cannot create the folder " + dstName);
    }
    try {
        FileDescriptor out(openChildFolder(dstParent, dstName));
        if (out.get() < 0)
            fail("cannot open the new folder " + dstName);
        for (const auto& child : namesIn(in.get())) {
            // Transfers in progress are not files yet.
            if (TempFile::isTempName(child))
                continue;
            if (!copyEntry(in.get(), child, out.get(), child, depth + 1, job))
                throw WriteFailure(child + " appeared in the new folder", EEXIST);
        }
        // Kept writable for its owner, so that the copy can be removed again.
        ::fchmod(out.get(), (info.st_mode & 0777) | 0700);
    } catch (const WriteFailure&) {
        removeQuietly(dstParent, dstName);
        throw;
    }
    return true;
}

bool copyEntry(int srcParent, const std::string& srcName, int dstParent, const std::string& dstName,
               int depth, CopyJob& job) {
    struct stat info;
    if (::fstatat(srcParent, srcName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        fail("cannot examine " + srcName);
    if (S_ISREG(info.st_mode))
        return copyFile(srcParent, srcName, info, dstParent, dstName, job);
    if (S_ISDIR(info.st_mode))
        return copyFolder(srcParent, srcName, info, dstParent, dstName, depth, job);
    if (depth == 0)
        throw WriteFailure(srcName + " is neither a file nor a folder", EINVAL);
    ++job.skipped;
    return true;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace

void ExplorerTree::remove(const std::string& path) {
    std::string name;
    FileDescriptor parent(openParent(path, name));
    removeEntry(parent.get(), name, 0);
}

std::string ExplorerTree::copyUnique(const std::string& source, const std::string& folder,
                                     const std::string& name, int& skipped,
                                     Storage::SpaceReservation* room) {
    CopyJob job{skipped, room};
    std::string srcName;
    FileDescriptor srcParent(openParent(source, srcName));
    FileDescriptor target(openFolder(folder));
    struct stat info;
    if (::fstatat(srcParent.get(), srcName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        fail("cannot examine " + source);
    for (int n = 0; n < kMaxNumber; ++n) {
        // Folder names have no extension to keep at the end.
        const std::string candidate = n == 0 ? name
                                      : S_ISDIR(info.st_mode)
                                          ? name + " (" + std::to_string(n) + ")"
                                          : TempFile::numbered(name, n);
        if (copyEntry(srcParent.get(), srcName, target.get(), candidate, 0, job))
            return joined(folder, candidate);
    }
    throw WriteFailure("no free name for " + name, EEXIST);
}

void ExplorerTree::copyTo(const std::string& source, const std::string& target, int& skipped,
                          Storage::SpaceReservation* room) {
    CopyJob job{skipped, room};
    std::string srcName, dstName;
    FileDescriptor srcParent(openParent(source, srcName));
    FileDescriptor dstParent(openParent(target, dstName));
    if (!copyEntry(srcParent.get(), srcName, dstParent.get(), dstName, 0, job))
        throw WriteFailure(target + " exists already", EEXIST);
}

}  // namespace Host
}  // namespace Orvane
