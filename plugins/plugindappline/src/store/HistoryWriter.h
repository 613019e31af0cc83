// Transfer history rows gathered in memory and handed to the database in
// batches: at most one write a second from a thread of its own, and at once
// when asked (a read of the history, a clean stop). Every download used to
// cost a commit of its own. Any thread may add, flush or stop; batches are
// written one at a time and in the order the rows came.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "store/DapplineHistory.h"

namespace Orvane {
namespace Dappline {

class HistoryWriter {
public:
    // Writes one batch; false when the database refused it.
    typedef std::function<bool(const std::vector<DapplineHistory>&)> Sink;

    explicit HistoryWriter(Sink sink, std::chrono::milliseconds interval = std::chrono::seconds(1));
    // Stops; rows still waiting are written first.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Queues the row; the writing thread starts with the first one.
    void add(const DapplineHistory& entry);
    // Writes what is waiting now, on the caller's thread; false when the
    // database refused it (the rows then wait for the next try).
    bool flush();
    // Writes what is waiting and ends the thread; a later add starts it again.
    void stop();
    std::size_t pending();

private:
    // Rows kept at most while the database refuses them; beyond this the
    // oldest go, so that a broken database cannot fill the memory.
    static const std::size_t MAX_PENDING = 100000;

    void run();
    void startLocked();

    Sink m_sink;
    std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<DapplineHistory> m_pending;
    bool m_stopping = false;
    std::thread m_thread;
    std::chrono::steady_clock::time_point m_lastWrite;
    // Held while a batch is written, so that batches keep their order.
    std::mutex m_writeMutex;
};

}  // namespace Dappline
}  // namespace Orvane
