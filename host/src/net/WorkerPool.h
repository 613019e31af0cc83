// The threads that serve ready requests (front.threads of them). A
// connection whose header is complete waits in the queue for a free
// worker, which hands it to the exchange; answers that were left for
// later come back as tasks when they are too big for the thread their
// reply reached. The pool knows every connection in service, served or
// waiting for its answer, so that stop() can cut them all and wait until
// each is let go. Thread-safe.
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
    using Serve = std::function<void(std::unique_ptr<Connection>)>;
    using Task = std::function<void()>;

    ~WorkerPool();

    void start(int threads, Serve serve);
    void submit(std::unique_ptr<Connection> connection);
    // False when the pool is stopping: the task is dropped.
    bool post(Task task);
    // A connection served outside the pool's threads enters the service;
    // false when the pool is stopping.
    bool enter(Connection* connection);
    // A connection leaves the service: given back, or closed.
    void leave(Connection* connection);
    // Takes no more work, cuts the connections in service, runs
    // `whileCutting` (to release handlers waiting for a reply) and waits
    // for the threads and for every connection to be let go.
    void stop(const std::function<void()>& whileCutting);

private:
    struct Job {
        std::unique_ptr<Connection> connection;
        Task task;
    };

    void run();

    Serve m_serve;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_released;
    std::deque<Job> m_queue;
    std::set<Connection*> m_busy;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace Host
}  // namespace Orvane
