#include "net/WorkerPool.h"

#include <sys/socket.h>

namespace Orvane {
namespace Host {

WorkerPool::~WorkerPool() {
    stop([] {});
}

void WorkerPool::start(int threads, Serve serve) {
    m_serve = std::move(serve);
    m_stopping = false;
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

void WorkerPool::submit(std::unique_ptr<Connection> connection) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_queue.push_back(Job{std::move(connection), Task()});
    }
    m_ready.notify_one();
}

bool WorkerPool::post(Task task) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return false;
        m_queue.push_back(Job{nullptr, std::move(task)});
    }
    m_ready.notify_one();
    return true;
}

bool WorkerPool::enter(Connection* connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return false;
    m_busy.insert(connection);
    return true;
}

void WorkerPool::leave(Connection* connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_busy.erase(connection) && m_busy.empty())
        m_released.notify_all();
}

void WorkerPool::stop(const std::function<void()>& whileCutting) {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_queue);
        // A connection leaves m_busy (under the lock) before anything
        // closes it, so these descriptors are still the served ones.
        for (Connection* connection : m_busy)
            ::shutdown(connection->fd(), SHUT_RDWR);
    }
    m_ready.notify_all();
    dropped.clear();  // an answer's task holds its connection: it leaves here
    whileCutting();
    for (auto& thread : m_threads)
        thread.join();
    m_threads.clear();
    // Answers being written on other threads (a deferred worker) end soon:
    // their connections are cut.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return m_busy.empty(); });
}

void WorkerPool::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            if (job.connection)
                m_busy.insert(job.connection.get());
        }
        try {
            if (job.connection)
                m_serve(std::move(job.connection));
            else
                job.task();
        } catch (...) {
            // Exchange answers what it can; nothing may end the thread
        }
    }
}

}  // namespace Host
}  // namespace Orvane
