// The web front: our own event-driven connection layer (net/) under Poco's
// request handlers. A listener thread owns the listening sockets and every
// waiting connection; front.threads workers serve ready requests through
// RequestRouter. Optionally TLS on the main port, and a plain port that
// redirects to it. bind, start, reloadTls and stop come from the main thread.
#pragma once

#include <Poco/Net/ServerSocket.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include "front/FrontContext.h"
#include "front/RequestRouter.h"
#include "net/AddressCaps.h"
#include "net/Exchange.h"
#include "net/Listener.h"
#include "net/WorkerPool.h"
#include "net/tls/TlsContext.h"

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
    // The plain port answering 308 to the main (TLS) port.
    void bindRedirect(const std::string& address, int port);
    int port() const;
    int redirectPort() const;
    // Before start(): the main port speaks TLS with this context.
    void useTls(std::shared_ptr<TlsContext> tls) { m_tls = std::move(tls); }
    void start(int threads);
    // SIGHUP: re-reads the certificate and key for new handshakes. Throws
    // Orvane::Exception (keeping the old ones) when they cannot be used.
    void reloadTls();
    // Stops accepting, cuts open connections and waits for their threads.
    void stop();

private:
    static void listenOn(Poco::Net::ServerSocket& socket, const std::string& address, int port);

    FrontContext& m_context;
    AddressCaps m_caps;
    Poco::Net::ServerSocket m_socket;
    Poco::Net::ServerSocket m_redirect;
    bool m_hasRedirect = false;
    std::shared_ptr<TlsContext> m_tls;
    std::atomic<bool> m_stopping{false};
    std::unique_ptr<RequestRouter> m_router;
    std::unique_ptr<Exchange> m_exchange;
    std::unique_ptr<WorkerPool> m_pool;
    std::unique_ptr<Listener> m_listener;
};

}  // namespace Host
}  // namespace Orvane
