#include "front/HttpFront.h"

#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/NetException.h>
#include <errno.h>

#include "front/RequestRouter.h"
#include "orvane/Exception.h"

namespace Orvane {
namespace Host {

HttpFront::HttpFront(FrontContext& context) : m_context(context) {}

HttpFront::~HttpFront() {
    stop();
}

void HttpFront::bind(const std::string& address, int port) {
    Poco::Net::SocketAddress where;
    try {
        where = Poco::Net::SocketAddress(address, static_cast<Poco::UInt16>(port));
    } catch (const Poco::Exception& e) {
        throw Orvane::Exception("cannot use the address " + address + ": " + e.displayText());
    }
    try {
        m_socket.bind(where, true, false);
        m_socket.listen(128);
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

int HttpFront::port() const {
    return m_socket.address().port();
}

void HttpFront::start(int maxThreads) {
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams();
    params->setKeepAlive(true);
    params->setKeepAliveTimeout(Poco::Timespan(15, 0));
    params->setMaxKeepAliveRequests(0);  // no limit per connection
    params->setTimeout(Poco::Timespan(60, 0));
    params->setMaxThreads(maxThreads);
    params->setMaxQueued(256);
    params->setServerName("orvane-host");
    m_pool.reset(new Poco::ThreadPool(2, maxThreads, 60));
    m_server.reset(
        new Poco::Net::HTTPServer(new RequestRouter(m_context), *m_pool, m_socket, params));
    m_server->start();
}

void HttpFront::stop() {
    if (!m_server)
        return;
    m_server->stopAll(true);
    // Requests still waiting for a plug-in's reply are told the host is going.
    m_context.pending.answerAll(Poco::Net::HTTPResponse::HTTP_SERVICE_UNAVAILABLE);
    m_pool->joinAll();
    m_server.reset();
    m_pool.reset();
}

}  // namespace Host
}  // namespace Orvane
