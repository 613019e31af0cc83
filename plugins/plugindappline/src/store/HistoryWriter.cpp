#include "store/HistoryWriter.h"

#include <Poco/Logger.h>

#include <system_error>

namespace Orvane {
namespace Dappline {

namespace {

// Beyond this many waiting rows the one who adds writes them at once, so
// that a burst cannot grow the queue for a whole second.
const std::size_t WRITE_AT_ONCE = 10000;

Poco::Logger& log() {
    return Poco::Logger::get("Dappline");
}

}  // namespace

HistoryWriter::HistoryWriter(Sink sink, std::chrono::milliseconds interval)
    : m_sink(std::move(sink)), m_interval(interval) {}

HistoryWriter::~HistoryWriter() {
    stop();
}

void HistoryWriter::add(const DapplineHistory& entry) {
    bool writeNow = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(entry);
        if (!m_stopping && !m_thread.joinable())
            startLocked();
        // Only the first row wakes the thread; it then waits out its second
        // whatever comes.
        if (m_pending.size() == 1)
            m_wake.notify_one();
        writeNow = m_pending.size() >= WRITE_AT_ONCE;
    }
    if (writeNow)
        flush();
}

// Without a thread the rows are still written, by the next flush or stop.
void HistoryWriter::startLocked() {
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        log().error(std::string("No thread for the history writer: ") + e.what());
    }
}

bool HistoryWriter::flush() {
    std::lock_guard<std::mutex> write(m_writeMutex);
    std::vector<DapplineHistory> rows;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        rows.swap(m_pending);
        m_lastWrite = std::chrono::steady_clock::now();
    }
    if (rows.empty())
        return true;
    bool written = false;
    try {
        written = m_sink(rows);
    } catch (...) {
        written = false;
    }
    if (written)
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    rows.insert(rows.end(), m_pending.begin(), m_pending.end());
    if (rows.size() > MAX_PENDING) {
        log().error("History database refuses rows; " + std::to_string(rows.size() - MAX_PENDING) +
                    " oldest dropped");
        rows.erase(rows.begin(), rows.end() - static_cast<std::ptrdiff_t>(MAX_PENDING));
    }
    m_pending.swap(rows);
    return false;
}

void HistoryWriter::stop() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        thread.swap(m_thread);
    }
    m_wake.notify_all();
    if (thread.joinable())
        thread.join();
    flush();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = false;
}

std::size_t HistoryWriter::pending() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending.size();
}

// One write a second at most: a batch waits out the rest of the second since
// the last one began.
void HistoryWriter::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        if (m_stopping)
            return;
        m_wake.wait_until(lock, m_lastWrite + m_interval, [this] { return m_stopping; });
        if (m_stopping)
            return;
        lock.unlock();
        flush();
        lock.lock();
    }
}

}  // namespace Dappline
}  // namespace Orvane
