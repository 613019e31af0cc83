// An open file descriptor that is closed when its owner goes, on every path
// out of a function. One owner; used from one thread at a time.
#pragma once

#include <unistd.h>

namespace Orvane {
namespace Host {

class FileDescriptor {
public:
    // Takes `fd` over; a negative one (a failed open) is never closed.
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    // Closes it now, for a caller that must hear whether the close failed
    // (the last written data may only fail there).
    int close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd);
    }

private:
    int m_fd;
};

}  // namespace Host
}  // namespace Orvane
