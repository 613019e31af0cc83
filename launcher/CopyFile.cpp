#include "CopyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// Replacements can be larger than the memory at hand, so they are copied in
// blocks of this size.
constexpr size_t kBlockSize = 1 << 20;
constexpr mode_t kExecuteBits = S_IXUSR | S_IXGRP | S_IXOTH;

bool isExecutableForUser(const struct stat& info) {
    if (::geteuid() == 0 || ::geteuid() == info.st_uid) {
        return (info.st_mode & S_IXUSR) != 0;
    }
    if (::getegid() == info.st_gid) {
        return (info.st_mode & S_IXGRP) != 0;
    }
    return (info.st_mode & S_IXOTH) != 0;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Set-id and sticky bits are not carried over: they belonged to the old
// program, and writing new content into a file drops them as well.
mode_t replacementMode(bool existed, const struct stat& destination, const struct stat& source) {
    const mode_t base =
        existed ? (destination.st_mode & 0777) : (source.st_mode & 0711 & ~currentUmask());
    const bool executable = existed && isExecutableForUser(destination);
    return executable ? (base | kExecuteBits) : (base & ~kExecuteBits);
}

// Renaming over a file would succeed where writing into it is refused, so the
// destination's own protection is honoured first. Only regular files are
// replaced; a folder, device or link to one is left alone.
bool mayReplace(const std::string& destination, const struct stat& info) {
    return S_ISREG(info.st_mode) &&
           ::faccessat(AT_FDCWD, destination.c_str(), W_OK, AT_EACCESS) == 0;
}

std::string folderOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool copyBytes(int in, int out) {
    std::vector<char> block(kBlockSize);
    for (;;) {
        const ssize_t got = ::read(in, block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        if (!writeAll(out, block.data(), static_cast<size_t>(got))) {
            return false;
        }
    }
}

// Fills the temporary file, gives it its final mode and makes it durable;
// closes it in every case.
bool fillTemporary(int in, int out, mode_t mode) {
    const bool filled = copyBytes(in, out) && ::fchmod(out, mode) == 0 && ::fsync(out) == 0;
    const bool closed = ::close(out) == 0;
    return filled && closed;
}

// A replaced file keeps its owner where we are allowed to give it away (as
// root); otherwise it belongs to us, as a newly created file would.
void keepOwner(int fd, const struct stat& destination) {
    if (::fchown(fd, destination.st_uid, destination.st_gid) != 0) {
        // Not allowed: the file stays ours, which is all an ordinary user can have.
    }
}

// The rename is only durable once the folder is on disk; file systems that
// cannot sync a folder still hold a complete file, so failure is not fatal.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool replaceWith(int in, const struct stat& source, const std::string& destination) {
    struct stat current;
    const bool existed = ::stat(destination.c_str(), &current) == 0;
    if (existed && !mayReplace(destination, current)) {
        return false;
    }
    const std::string folder = folderOf(destination);
    std::string temporary = folder + "/.update-XXXXXX";
    const int out = ::mkostemp(&temporary[0], O_CLOEXEC);
    if (out < 0) {
        return false;
    }
    if (existed) {
        keepOwner(out, current);
    }
    const mode_t mode = replacementMode(existed, current, source);
    if (fillTemporary(in, out, mode) && ::rename(temporary.c_str(), destination.c_str()) == 0) {
        syncFolder(folder);
        return true;
    }
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace

bool CopyFile(const std::string& source, const std::string& destination) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat info;
    const bool copied = ::fstat(in, &info) == 0 && replaceWith(in, info, destination);
    ::close(in);
    return copied;
}
