#include "net/Listener.h"

#include <Poco/Logger.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "orvane/Exception.h"

namespace Orvane {
namespace Host {

namespace {

using Clock = Connection::Clock;

const int kEvents = 256;
const int kAcceptsPerWake = 128;
// How long a closing connection is read (and dropped) so that the client
// gets the last answer before the close resets the connection.
const std::chrono::seconds kLinger(2);
const unsigned char kTlsHandshake = 0x16;
// Idle keep-alive connections closed at once when the total cap is reached.
const std::size_t kShedAtOnce = 32;

const std::string kTimeoutAnswer =
    "HTTP/1.1 408 Request Timeout\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const std::string kTooLargeAnswer =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";

}  // namespace

Listener::Listener(const FrontLimits& limits, AddressCaps& caps, const TrustedProxies& proxies)
    : m_limits(limits), m_caps(caps), m_proxies(proxies) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (m_epoll < 0 || m_wake < 0)
        throw Orvane::Exception("cannot set up the listener's epoll");
}

Listener::~Listener() {
    stop();
    // The listening sockets belong to whoever added them.
    ::close(m_epoll);
    ::close(m_wake);
    if (m_spare >= 0)
        ::close(m_spare);
}

void Listener::addPort(int fd, Connection::Kind kind) {
    m_ports[fd] = kind;
}

void Listener::start(Dispatch dispatch, Tick tick) {
    m_dispatch = std::move(dispatch);
    m_tick = std::move(tick);
    for (const auto& port : m_ports) {
        ::fcntl(port.first, F_SETFL, ::fcntl(port.first, F_GETFL) | O_NONBLOCK);
        struct epoll_event event = {EPOLLIN, {}};
        event.data.fd = port.first;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, port.first, &event);
    }
    struct epoll_event wake = {EPOLLIN, {}};
    wake.data.fd = m_wake;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wake);
    m_thread = std::thread([this] { run(); });
}

void Listener::stop() {
    {
        std::lock_guard<std::mutex> lock(m_returnMutex);
        m_stopped = true;
        m_returns.clear();
    }
    m_stop = true;
    const std::uint64_t one = 1;
    if (::write(m_wake, &one, sizeof(one)) < 0) {
        // the thread also looks at m_stop once a second
    }
    if (m_thread.joinable())
        m_thread.join();
    m_waiting.clear();
}

void Listener::giveBack(std::unique_ptr<Connection> connection, bool keep) {
    std::lock_guard<std::mutex> lock(m_returnMutex);
    if (m_stopped)
        return;  // closed here
    // A kept connection with nothing read ahead is watched at once and
    // taken over when the listener next wakes, for it or for anything
    // else: a busy front then wakes for input only, not for every answer.
    const bool watched = keep && !connection->pendingInput();
    if (watched) {
        struct epoll_event event = {EPOLLIN, {}};
        event.data.fd = connection->fd();
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, event.data.fd, &event);
    }
    m_returns.push_back(Return{std::move(connection), keep, watched});
    m_hasReturns = true;
    const std::uint64_t one = 1;
    if (!watched && ::write(m_wake, &one, sizeof(one)) < 0) {
        // already signalled: the counter is full
    }
}

void Listener::run() {
    struct epoll_event events[kEvents];
    Clock::time_point nextSweep = Clock::now() + std::chrono::seconds(1);
    while (!m_stop) {
        const int count = ::epoll_wait(m_epoll, events, kEvents, 1000);
        if (m_hasReturns)
            takeReturns();
        for (int i = 0; i < count && !m_stop; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_wake) {
                takeReturns();
            } else if (m_ports.count(fd)) {
                acceptFrom(fd, m_ports[fd]);
            } else {
                handle(fd);
            }
        }
        if (Clock::now() >= nextSweep) {
            sweep();
            if (m_tick)
                m_tick();
            nextSweep = Clock::now() + std::chrono::seconds(1);
        }
    }
}

void Listener::acceptFrom(int listenFd, Connection::Kind kind) {
    for (int i = 0; i < kAcceptsPerWake && acceptOne(listenFd, kind); ++i) {
    }
}

bool Listener::acceptOne(int listenFd, Connection::Kind kind) {
    struct sockaddr_storage address;
    socklen_t length = sizeof(address);
    const int fd = ::accept4(listenFd, reinterpret_cast<struct sockaddr*>(&address), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        admit(fd, Poco::Net::SocketAddress(reinterpret_cast<struct sockaddr*>(&address), length),
              kind);
        return true;
    }
    if (errno == EINTR || errno == ECONNABORTED)
        return true;
    if ((errno == EMFILE || errno == ENFILE) && m_spare >= 0) {
        // Out of descriptors: take the connection with the spare one and
        // close it, or the listening socket would stay ready for ever.
        ::close(m_spare);
        const int shed = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (shed >= 0)
            ::close(shed);
        m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        Poco::Logger::get("HttpFront").warning("Out of file descriptors: a connection was shed");
    }
    return false;
}

void Listener::admit(int fd, const Poco::Net::SocketAddress& peer, Connection::Kind kind) {
    const bool proxy = !m_proxies.empty() && m_proxies.trusts(peer.host());
    const std::string address = CidrRange::unmapped(peer.host()).toString();
    // Over the cap of its address the newest connection goes at once: it
    // has cost nothing yet. At the total cap, as nginx does, the oldest
    // idle keep-alive connections make room first.
    if (!m_caps.admit(address, proxy) &&
        !(m_caps.full() && shedIdle() && m_caps.admit(address, proxy))) {
        ::close(fd);
        return;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    std::unique_ptr<Connection> connection(new Connection(fd, kind, peer, m_caps, proxy));
    connection->stage =
        kind == Connection::Kind::Tls ? Connection::Stage::Sniff : Connection::Stage::Head;
    connection->deadline = Clock::now() + std::chrono::seconds(m_limits.headerTimeoutSeconds);
    insert(std::move(connection));
}

void Listener::insert(std::unique_ptr<Connection> connection, bool watched) {
    const int fd = connection->fd();
    Waiting& waiting = m_waiting[fd];
    waiting.connection = std::move(connection);
    waiting.events = watched ? static_cast<std::uint32_t>(EPOLLIN) : 0u;
    watch(waiting, EPOLLIN);
}

void Listener::watch(Waiting& waiting, std::uint32_t events) {
    if (waiting.events == events)
        return;
    struct epoll_event event = {events, {}};
    event.data.fd = waiting.connection->fd();
    ::epoll_ctl(m_epoll, waiting.events ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, event.data.fd, &event);
    waiting.events = events;
}

void Listener::handle(int fd) {
    auto it = m_waiting.find(fd);
    if (it == m_waiting.end())
        return;
    std::uint32_t events = EPOLLIN;
    apply(fd, advance(*it->second.connection, events), events);
}

void Listener::apply(int fd, Next next, std::uint32_t events) {
    Waiting& waiting = m_waiting[fd];
    switch (next) {
        case Next::Wait:
            watch(waiting, events);
            break;
        case Next::Ready: {
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
            std::unique_ptr<Connection> connection = std::move(waiting.connection);
            m_waiting.erase(fd);
            connection->stage = Connection::Stage::Busy;
            m_dispatch(std::move(connection));
            break;
        }
        case Next::Refuse:
            refuse(*waiting.connection, kTooLargeAnswer);
            watch(waiting, EPOLLIN);
            break;
        case Next::Drop:
            drop(fd);
            break;
    }
}

Listener::Next Listener::advance(Connection& connection, std::uint32_t& events) {
    switch (connection.stage) {
        case Connection::Stage::Sniff:
            return sniff(connection, events);
        case Connection::Stage::Handshake: {
            const long result = connection.handshake();
            if (result == 1) {
                connection.stage = Connection::Stage::Head;
                return gather(connection, events);
            }
            if (result == Connection::kFailed)
                return Next::Drop;
            events = result == Connection::kWantWrite ? EPOLLOUT : EPOLLIN;
            return Next::Wait;
        }
        case Connection::Stage::Linger:
            return discard(connection);
        default:
            return gather(connection, events);
    }
}

Listener::Next Listener::sniff(Connection& connection, std::uint32_t& events) {
    unsigned char first = 0;
    const ssize_t got = ::recv(connection.fd(), &first, 1, MSG_PEEK);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        events = EPOLLIN;
        return Next::Wait;
    }
    if (got <= 0)
        return Next::Drop;
    if (first == kTlsHandshake) {
        ssl_st* ssl = m_tls ? m_tls->newSession(connection.fd()) : nullptr;
        if (!ssl)
            return Next::Drop;
        connection.attachTls(ssl);
        connection.stage = Connection::Stage::Handshake;
    } else {
        // Plain HTTP on the TLS port: read its header, answer a redirect.
        connection.plainOnTlsPort = true;
        connection.stage = Connection::Stage::Head;
    }
    return advance(connection, events);
}

Listener::Next Listener::gather(Connection& connection, std::uint32_t& events) {
    switch (connection.fillHead(m_limits.headerMaxBytes)) {
        case Connection::Fill::Head:
            return Next::Ready;
        case Connection::Fill::TooLarge:
            return Next::Refuse;
        case Connection::Fill::Closed:
            return Next::Drop;
        case Connection::Fill::WantWrite:
            events = EPOLLOUT;
            return Next::Wait;
        case Connection::Fill::More:
            break;
    }
    if (connection.stage == Connection::Stage::Idle && connection.buffered() > 0) {
        // The next request began: from now on its header has a deadline.
        connection.stage = Connection::Stage::Head;
        connection.deadline = Clock::now() + std::chrono::seconds(m_limits.headerTimeoutSeconds);
    }
    events = EPOLLIN;
    return Next::Wait;
}

Listener::Next Listener::discard(Connection& connection) {
    char scrap[4096];
    for (int i = 0; i < 16; ++i) {
        const ssize_t got = ::recv(connection.fd(), scrap, sizeof(scrap), 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Next::Wait;
        if (got <= 0)
            return Next::Drop;
    }
    return Next::Wait;
}

void Listener::refuse(Connection& connection, const std::string& answer) {
    // One try without waiting: a client that cannot take these few bytes
    // does not get them.
    connection.transmit(answer.data(), answer.size());
    startLinger(connection);
}

void Listener::startLinger(Connection& connection) {
    connection.closeWrite();
    connection.stage = Connection::Stage::Linger;
    connection.deadline = Clock::now() + kLinger;
}

void Listener::drop(int fd) {
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    m_waiting.erase(fd);
}

bool Listener::shedIdle() {
    std::vector<std::pair<Clock::time_point, int>> idle;
    for (const auto& entry : m_waiting) {
        if (entry.second.connection->stage == Connection::Stage::Idle)
            idle.emplace_back(entry.second.connection->deadline, entry.first);
    }
    const std::size_t count = std::min<std::size_t>(idle.size(), kShedAtOnce);
    std::nth_element(idle.begin(), idle.begin() + static_cast<long>(count), idle.end());
    for (std::size_t i = 0; i < count; ++i)
        drop(idle[i].second);
    return count > 0;
}

void Listener::sweep() {
    const Clock::time_point now = Clock::now();
    std::vector<int> expired;
    for (const auto& entry : m_waiting) {
        if (entry.second.connection->deadline <= now)
            expired.push_back(entry.first);
    }
    for (int fd : expired) {
        Connection& connection = *m_waiting[fd].connection;
        // A header begun and not finished in time is told so; a connection
        // that sent nothing just closes, as does one already closing.
        if (connection.stage == Connection::Stage::Head && connection.buffered() > 0) {
            refuse(connection, kTimeoutAnswer);
            watch(m_waiting[fd], EPOLLIN);
        } else {
            drop(fd);
        }
    }
}

void Listener::takeReturns() {
    std::uint64_t count = 0;
    if (::read(m_wake, &count, sizeof(count)) < 0) {
        // nothing to take: another wake-up took it
    }
    std::vector<Return> returns;
    {
        std::lock_guard<std::mutex> lock(m_returnMutex);
        returns.swap(m_returns);
        m_hasReturns = false;
    }
    for (Return& entry : returns) {
        Connection& connection = *entry.connection;
        const int fd = connection.fd();
        if (!entry.keep) {
            startLinger(connection);
        } else {
            connection.compact();
            const bool begun = connection.buffered() > 0;
            connection.stage = begun ? Connection::Stage::Head : Connection::Stage::Idle;
            connection.deadline =
                Clock::now() + std::chrono::seconds(begun ? m_limits.headerTimeoutSeconds
                                                          : m_limits.keepAliveIdleSeconds);
        }
        const bool pending = entry.keep && connection.pendingInput();
        insert(std::move(entry.connection), entry.watched);
        if (pending)
            handle(fd);
    }
}

}  // namespace Host
}  // namespace Orvane
