#include "OpenCounter.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <stdexcept>

namespace Stress {

OpenCounter::OpenCounter() {
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0 || ::pipe(m_wake) != 0)
        throw std::runtime_error("inotify is not available");
    m_thread = std::thread([this] { run(); });
}

OpenCounter::~OpenCounter() {
    m_stop = true;
    const char c = 0;
    if (::write(m_wake[1], &c, 1) < 0) {
        // The reader ends at its next poll anyway.
    }
    m_thread.join();
    ::close(m_fd);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void OpenCounter::watch(const std::string& path) {
    const int wd = ::inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_ACCESS | IN_CLOSE);
    if (wd < 0)
        throw std::runtime_error("cannot watch " + path);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_paths[wd] = path;
    m_counts[path];
}

int OpenCounter::opens(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_overflow)
        return -1;
    auto it = m_counts.find(path);
    return it == m_counts.end() ? 0 : it->second;
}

void OpenCounter::drain() {
    std::lock_guard<std::mutex> lock(m_mutex);
    while (readLocked()) {
    }
}

void OpenCounter::run() {
    while (!m_stop) {
        struct pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, 200) <= 0 || !(fds[0].revents & POLLIN))
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        readLocked();
    }
}

bool OpenCounter::readLocked() {
    alignas(struct inotify_event) char buffer[64 * 1024];
    const ssize_t n = ::read(m_fd, buffer, sizeof(buffer));
    if (n <= 0)
        return false;
    for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
        if (event->mask & IN_Q_OVERFLOW)
            m_overflow = true;
        if (event->mask & IN_OPEN) {
            auto it = m_paths.find(event->wd);
            if (it != m_paths.end())
                ++m_counts[it->second];
        }
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
    }
    return true;
}

}  // namespace Stress
