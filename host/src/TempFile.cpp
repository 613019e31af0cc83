#include "TempFile.h"

#include <Poco/UUIDGenerator.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace Orvane {
namespace Host {

namespace {

std::string errorText(const std::string& what, int error) {
    return what + ": " + ::strerror(error);
}

// Renames without replacing; where the file system cannot do that, a hard
// link gives the same guarantee. False with errno set otherwise.
bool placeIfFree(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

bool WriteFailure::noSpace() const {
    return m_error == ENOSPC || m_error == EDQUOT || m_error == EFBIG;
}

TempFile::TempFile(const std::string& folder) : m_folder(folder) {
    const std::string id = Poco::UUIDGenerator::defaultGenerator().createRandom().toString();
    m_path = folder + "/" + PREFIX + id;
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (m_fd < 0)
        throw WriteFailure(errorText("cannot create a file in " + folder, errno), errno);
}

TempFile::~TempFile() {
    discard();
}

void TempFile::write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw WriteFailure(errorText("cannot write " + m_path, errno), errno);
        }
        if (n == 0)
            throw WriteFailure("cannot write " + m_path, ENOSPC);
        data += n;
        size -= static_cast<std::size_t>(n);
        m_size += static_cast<std::uint64_t>(n);
    }
}

void TempFile::close() {
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    // Delayed allocation may report a full disk only now.
    if (::close(fd) != 0)
        throw WriteFailure(errorText("cannot write " + m_path, errno), errno);
}

void TempFile::replace(const std::string& path) {
    close();
    if (::rename(m_path.c_str(), path.c_str()) != 0)
        throw WriteFailure(errorText("cannot put the file in place at " + path, errno), errno);
    m_placed = true;
}

std::string TempFile::placeUnique(const std::string& name) {
    close();
    for (int n = 0; n < 10000; ++n) {
        const std::string path = m_folder + "/" + (n == 0 ? name : numbered(name, n));
        // Never a plain rename, which would replace the name: two uploads of
        // one name at once must both keep their file.
        if (placeIfFree(m_path, path)) {
            m_placed = true;
            return path;
        }
        if (errno != EEXIST)
            throw WriteFailure(errorText("cannot put the file in place at " + path, errno), errno);
    }
    throw WriteFailure("no free name for " + name, EEXIST);
}

void TempFile::discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_placed && !m_path.empty())
        ::unlink(m_path.c_str());
    m_placed = true;
}

bool TempFile::isTempName(const std::string& name) {
    return name.compare(0, ::strlen(PREFIX), PREFIX) == 0;
}

std::string TempFile::numbered(const std::string& name, int n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

}  // namespace Host
}  // namespace Orvane
