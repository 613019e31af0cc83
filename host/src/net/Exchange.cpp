#include "net/Exchange.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPRequestHandler.h>

#include <memory>

#include "front/HttpErrors.h"
#include "net/message/HttpsRedirect.h"
#include "net/message/ServerRequest.h"
#include "net/message/ServerResponse.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

// Holds a forwarded client's place under the per-address cap while its
// request is served.
class ProxiedSlot {
public:
    ProxiedSlot(AddressCaps& caps, const ClientOrigin& origin, const Connection& connection)
        : m_caps(caps) {
        if (origin.viaProxy && !(origin.address.host() == connection.peer().host()))
            m_address = origin.address.host().toString();
        m_held = m_address.empty() || m_caps.admitRequest(m_address);
    }
    ~ProxiedSlot() {
        if (m_held && !m_address.empty())
            m_caps.releaseRequest(m_address);
    }
    bool held() const { return m_held; }

private:
    AddressCaps& m_caps;
    std::string m_address;
    bool m_held = false;
};

}  // namespace

Exchange::Exchange(const Setup& setup) : m_setup(setup), m_params(new Poco::Net::HTTPServerParams) {
    m_params->setServerName("orvane-host");
    m_params->setKeepAlive(true);
    m_params->setKeepAliveTimeout(Poco::Timespan(setup.limits->keepAliveIdleSeconds, 0));
    m_params->setTimeout(Poco::Timespan(setup.limits->sendStallSeconds, 0));
}

bool Exchange::serve(Connection& connection) {
    ConnectionIo io(connection, m_setup.limits->sendStallSeconds);
    for (;;) {
        if (!serveOne(io, connection.takeHead()) || m_setup.stopping->load())
            return false;
        // A pipelined request already here is served at once.
        const std::size_t next = connection.headLength();
        if (next == 0)
            return true;
        if (next > m_setup.limits->headerMaxBytes)
            return false;
    }
}

bool Exchange::serveOne(ConnectionIo& io, const std::string& head) {
    Connection& connection = io.connection();
    ServerRequest request(io, *m_setup.limits, *m_params);
    ServerResponse response(io, request);
    request.setResponse(response);
    try {
        request.parse(head);
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("HttpFront").debug("Unreadable request: " + e.displayText());
        return answerOnly(response, HTTPResponse::HTTP_BAD_REQUEST,
                          "The request could not be read.");
    }
    request.setOrigin(
        m_setup.proxies->resolve(connection.peer(), connection.ssl() != nullptr, request));
    response.prepare(!m_setup.stopping->load() && !connection.plainOnTlsPort);
    ProxiedSlot slot(*m_setup.caps, request.origin(), connection);
    if (!slot.held()) {
        return answerOnly(response, HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                          "Too many connections from your address.");
    }
    run(request, response, connection);
    const bool answered = response.finish();
    return request.finishBody() && answered;
}

bool Exchange::answerOnly(ServerResponse& response, int status, const std::string& detail) {
    response.setVersion(HTTPResponse::HTTP_1_1);
    response.setKeepAlive(false);
    try {
        HttpErrors::send(response, status, detail);
        response.finish();
    } catch (const Poco::Exception&) {
    }
    return false;
}

void Exchange::run(ServerRequest& request, ServerResponse& response, Connection& connection) {
    try {
        std::unique_ptr<Poco::Net::HTTPRequestHandler> handler(handlerFor(request, connection));
        if (handler)
            handler->handleRequest(request, response);
    } catch (const std::exception& e) {
        Poco::Logger::get("HttpFront")
            .warning("Request " + request.getURI() + " failed: " + e.what());
        if (response.sent())
            connection.markBroken();  // the answer is cut short
    }
    if (response.sent() || connection.broken())
        return;
    // A handler that answered nothing is a fault, never a success.
    response.setKeepAlive(false);
    try {
        HttpErrors::send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
    } catch (const Poco::Exception&) {
    }
}

Poco::Net::HTTPRequestHandler* Exchange::handlerFor(ServerRequest& request,
                                                    Connection& connection) {
    if (connection.kind() == Connection::Kind::Redirect)
        return new HttpsRedirect(m_setup.tlsPort, m_setup.publicUrl, false);
    if (connection.plainOnTlsPort)
        return new HttpsRedirect(connection.local().port(), m_setup.publicUrl, true);
    return m_setup.router->createRequestHandler(request);
}

}  // namespace Host
}  // namespace Orvane
