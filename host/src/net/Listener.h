// The front's listener thread: with epoll it owns the listening sockets and
// every connection that waits (TLS handshake under way, header not yet
// complete, keep-alive idle, closing), reads headers as they arrive and
// hands a connection whose header is complete to the workers. It enforces
// the header deadline and size, the idle time and both connection caps.
// Workers give connections back through giveBack(), from any thread; all
// else runs on the listener's own thread between start() and stop().
#pragma once

#include <sys/epoll.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "net/AddressCaps.h"
#include "net/Connection.h"
#include "net/FrontLimits.h"
#include "net/TrustedProxies.h"
#include "net/tls/TlsContext.h"

namespace Orvane {
namespace Host {

class Listener {
public:
    using Dispatch = std::function<void(std::unique_ptr<Connection>)>;
    using Tick = std::function<void()>;

    Listener(const FrontLimits& limits, AddressCaps& caps, const TrustedProxies& proxies);
    ~Listener();

    // Before start(): a listening socket (still the caller's to close) and
    // what it serves.
    void addPort(int fd, Connection::Kind kind);
    void setTls(std::shared_ptr<TlsContext> tls) { m_tls = std::move(tls); }
    // `tick` runs on the listener's thread about once a second.
    void start(Dispatch dispatch, Tick tick = Tick());
    // Closes the listening sockets and every waiting connection.
    void stop();
    // A served connection: it waits for its next request, or is closed.
    void giveBack(std::unique_ptr<Connection> connection, bool keep);

private:
    enum class Next { Wait, Ready, Refuse, Drop };
    struct Waiting {
        std::unique_ptr<Connection> connection;
        std::uint32_t events = 0;
    };
    struct Return {
        std::unique_ptr<Connection> connection;
        bool keep;
        bool watched;  // already in the epoll set, for input
    };

    void run();
    void acceptFrom(int listenFd, Connection::Kind kind);
    bool acceptOne(int listenFd, Connection::Kind kind);
    void admit(int fd, const Poco::Net::SocketAddress& peer, Connection::Kind kind);
    void handle(int fd);
    Next advance(Connection& connection, std::uint32_t& events);
    Next sniff(Connection& connection, std::uint32_t& events);
    Next gather(Connection& connection, std::uint32_t& events);
    Next discard(Connection& connection);
    void apply(int fd, Next next, std::uint32_t events);
    void watch(Waiting& waiting, std::uint32_t events);
    void insert(std::unique_ptr<Connection> connection, bool watched = false);
    void refuse(Connection& connection, const std::string& answer);
    void startLinger(Connection& connection);
    void drop(int fd);
    bool shedIdle();
    void sweep();
    void takeReturns();

    const FrontLimits& m_limits;
    AddressCaps& m_caps;
    const TrustedProxies& m_proxies;
    std::shared_ptr<TlsContext> m_tls;
    Dispatch m_dispatch;
    Tick m_tick;
    int m_epoll = -1;
    int m_wake = -1;
    int m_spare = -1;  // given up to accept and shed a connection when out of descriptors
    std::map<int, Connection::Kind> m_ports;
    std::unordered_map<int, Waiting> m_waiting;
    std::mutex m_returnMutex;
    std::vector<Return> m_returns;
    std::atomic<bool> m_hasReturns{false};
    bool m_stopped = false;  // under m_returnMutex
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace Host
}  // namespace Orvane
