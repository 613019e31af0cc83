// The threads that serve ready requests (front.threads of them). A
// connection whose header is complete waits in the queue for a free
// worker, which serves it and hands it on. stop() cuts the connections
// being served so that their threads come back. Thread-safe.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "net/Connection.h"

namespace Orvane {
namespace Host {

class WorkerPool {
public:
    // Serves the connection; true when it can wait for another request.
    using Serve = std::function<bool(Connection&)>;
    using Done = std::function<void(std::unique_ptr<Connection>, bool keep)>;

    ~WorkerPool();

    void start(int threads, Serve serve, Done done);
    void submit(std::unique_ptr<Connection> connection);
    // Takes no more work, cuts the connections being served, runs
    // `whileCutting` (to release handlers waiting for a reply) and waits
    // for the threads.
    void stop(const std::function<void()>& whileCutting);

private:
    void run();

    Serve m_serve;
    Done m_done;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::unique_ptr<Connection>> m_queue;
    std::set<Connection*> m_busy;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace Host
}  // namespace Orvane
