#include "net/WorkerPool.h"

#include <sys/socket.h>

namespace Orvane {
namespace Host {

WorkerPool::~WorkerPool() {
    stop([] {});
}

void WorkerPool::start(int threads, Serve serve, Done done) {
    m_serve = std::move(serve);
    m_done = std::move(done);
    m_stopping = false;
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

void WorkerPool::submit(std::unique_ptr<Connection> connection) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_queue.push_back(std::move(connection));
    }
    m_ready.notify_one();
}

void WorkerPool::stop(const std::function<void()>& whileCutting) {
    std::deque<std::unique_ptr<Connection>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_queue);
        // A worker takes its connection out of m_busy (under the lock)
        // before anything closes it, so these descriptors are still its.
        for (Connection* connection : m_busy)
            ::shutdown(connection->fd(), SHUT_RDWR);
    }
    m_ready.notify_all();
    dropped.clear();
    whileCutting();
    for (auto& thread : m_threads)
        thread.join();
    m_threads.clear();
}

void WorkerPool::run() {
    for (;;) {
        std::unique_ptr<Connection> connection;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            connection = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy.insert(connection.get());
        }
        bool keep = false;
        try {
            keep = m_serve(*connection);
        } catch (...) {
            keep = false;  // Exchange answers what it can; nothing may end the thread
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_busy.erase(connection.get());
            if (m_stopping)
                continue;  // closed here
        }
        m_done(std::move(connection), keep);
    }
}

}  // namespace Host
}  // namespace Orvane
