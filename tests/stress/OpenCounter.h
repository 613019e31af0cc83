// Counts how often files are opened, through inotify: the host leaves no
// other trace of decoding a picture, and every decode opens the file. The
// kernel folds an event into an identical one still unread, so a count is
// never too high but may be too low while opens crowd each other; reads and
// closes are watched too so that one decode's opens, one after the other,
// are never folded. A thread of its own reads the events; the counts may be
// read at any time.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace Stress {

class OpenCounter {
public:
    OpenCounter();
    ~OpenCounter();
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    void watch(const std::string& path);
    // Opens seen so far; -1 once the kernel's queue overflowed and counts
    // were lost.
    int opens(const std::string& path);
    // Takes every event queued so far, so that opens() counts them.
    void drain();

private:
    void run();
    // One non-blocking read; false when nothing was queued.
    bool readLocked();

    int m_fd;
    int m_wake[2];
    std::mutex m_mutex;
    std::map<int, std::string> m_paths;
    std::map<std::string, int> m_counts;
    bool m_overflow = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace Stress
