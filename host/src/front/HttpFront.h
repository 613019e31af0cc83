// The web front: a Poco HTTPServer with keep-alive and a bounded thread
// pool on one listening socket, routing through RequestRouter. bind, start
// and stop come from the main thread.
#pragma once

#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/ThreadPool.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class PortInUse : public std::runtime_error {
public:
    explicit PortInUse(const std::string& message) : std::runtime_error(message) {}
};

class HttpFront {
public:
    explicit HttpFront(FrontContext& context);
    ~HttpFront();

    // Throws PortInUse, or Orvane::Exception for an address it cannot use.
    void bind(const std::string& address, int port);
    int port() const;
    void start(int maxThreads);
    // Stops accepting, cuts open connections and waits for their threads.
    void stop();

private:
    FrontContext& m_context;
    Poco::Net::ServerSocket m_socket;
    std::unique_ptr<Poco::ThreadPool> m_pool;
    std::unique_ptr<Poco::Net::HTTPServer> m_server;
};

}  // namespace Host
}  // namespace Orvane
