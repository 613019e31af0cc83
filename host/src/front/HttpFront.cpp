#include "front/HttpFront.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <errno.h>
#include <sys/resource.h>

#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

namespace {

const int kBacklog = 4096;

// Every connection is a descriptor: the soft limit goes up to the hard one.
void raiseOpenFiles(int connections) {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const rlim_t wanted = static_cast<rlim_t>(connections) + 256;
    if (limit.rlim_cur < wanted) {
        Poco::Logger::get("HttpFront")
            .warning("The system allows " + std::to_string(limit.rlim_cur) +
                     " open files, fewer than connections.max (" + std::to_string(connections) +
                     ") needs");
    }
}

}  // namespace

HttpFront::HttpFront(FrontContext& context) : m_context(context) {}

HttpFront::~HttpFront() {
    stop();
}

void HttpFront::listenOn(Poco::Net::ServerSocket& socket, const std::string& address, int port) {
    Poco::Net::SocketAddress where;
    try {
        where = Poco::Net::SocketAddress(address, static_cast<Poco::UInt16>(port));
    } catch (const Poco::Exception& e) {
        throw Orvane::Exception("cannot use the address " + address + ": " + e.displayText());
    }
    try {
        socket.bind(where, true, false);
        socket.listen(kBacklog);
    } catch (const Poco::Net::NetException& e) {
        if (e.code() == EADDRINUSE) {
            throw PortInUse("port " + std::to_string(port) + " on " + address +
                            " is already in use");
        }
        throw Orvane::Exception("cannot listen on " + where.toString() + ": " + e.displayText());
    } catch (const Poco::IOException& e) {
        throw Orvane::Exception("cannot listen on " + where.toString() + ": " + e.displayText());
    }
}

void HttpFront::bind(const std::string& address, int port) {
    listenOn(m_socket, address, port);
}

void HttpFront::bindRedirect(const std::string& address, int port) {
    listenOn(m_redirect, address, port);
    m_hasRedirect = true;
}

int HttpFront::port() const {
    return m_socket.address().port();
}

int HttpFront::redirectPort() const {
    return m_hasRedirect ? m_redirect.address().port() : 0;
}

void HttpFront::start(int threads) {
    const FrontLimits& limits = m_context.limits;
    raiseOpenFiles(limits.connectionsMax);
    m_caps.configure(limits.connectionsPerAddress, limits.connectionsMax);
    m_stopping = false;
    m_router.reset(new RequestRouter(m_context));
    Exchange::Setup setup;
    setup.limits = &limits;
    setup.proxies = &m_context.proxies;
    setup.caps = &m_caps;
    setup.router = m_router.get();
    setup.tlsPort = port();
    setup.publicUrl = API::ProfileManager::getProperty("public.url");
    setup.stopping = &m_stopping;
    m_pool.reset(new WorkerPool);
    m_listener.reset(new Listener(limits, m_caps, m_context.proxies));
    Listener* listener = m_listener.get();
    setup.pool = m_pool.get();
    setup.done = [listener](std::unique_ptr<Connection> connection, bool keep) {
        listener->giveBack(std::move(connection), keep);
    };
    m_exchange.reset(new Exchange(setup));
    m_listener->setTls(m_tls);
    m_listener->addPort(m_socket.impl()->sockfd(),
                        m_tls ? Connection::Kind::Tls : Connection::Kind::Plain);
    if (m_hasRedirect)
        m_listener->addPort(m_redirect.impl()->sockfd(), Connection::Kind::Redirect);
    Exchange* exchange = m_exchange.get();
    m_pool->start(threads, [exchange](std::unique_ptr<Connection> connection) {
        exchange->serve(std::move(connection));
    });
    PendingReplies* pending = &m_context.pending;
    // Answers left for later have their deadline checked once a second.
    m_listener->start(
        [exchange](std::unique_ptr<Connection> connection) {
            exchange->dispatch(std::move(connection));
        },
        [pending] { pending->expire(); });
}

void HttpFront::reloadTls() {
    if (m_tls)
        m_tls->reload();
}

void HttpFront::stop() {
    if (!m_listener)
        return;
    m_stopping = true;
    m_listener->stop();
    // Requests still waiting for a plug-in's reply are told the host is going.
    m_pool->stop(
        [this] { m_context.pending.answerAll(Poco::Net::HTTPResponse::HTTP_SERVICE_UNAVAILABLE); });
    m_exchange->waitIdle();
    m_pool.reset();
    m_listener.reset();
    m_exchange.reset();
    m_router.reset();
    m_socket.close();
    if (m_hasRedirect)
        m_redirect.close();
}

}  // namespace Host
}  // namespace Orvane
