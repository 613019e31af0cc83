#include "net/message/ServerRequest.h"

#include <Poco/MemoryStream.h>
#include <Poco/Net/NetException.h>
#include <Poco/String.h>

#include "net/message/ServerResponse.h"

namespace Orvane {
namespace Host {

namespace {

// What is left of a body that the handler did not read and that may be
// dropped to keep the connection.
const std::size_t kDrainBytes = 64 * 1024;

}  // namespace

ServerRequest::ServerRequest(ConnectionIo& io, const FrontLimits& limits,
                             const Poco::Net::HTTPServerParams& params)
    : m_io(io), m_limits(limits), m_params(params) {}

ServerRequest::~ServerRequest() = default;

void ServerRequest::parse(const std::string& head) {
    Poco::MemoryInputStream in(head.data(), head.size());
    read(in);
    if (getVersion() != HTTP_1_0 && getVersion() != HTTP_1_1)
        throw Poco::Net::MessageException("unsupported HTTP version");
    checkFraming();
}

void ServerRequest::checkFraming() {
    // A body framed two ways, or with two lengths, is how requests are
    // smuggled past proxies: refused.
    std::string length;
    for (const auto& field : *this) {
        if (Poco::icompare(field.first, "Content-Length") != 0)
            continue;
        if (!length.empty() && Poco::trim(field.second) != length)
            throw Poco::Net::MessageException("two different Content-Length fields");
        length = Poco::trim(field.second);
    }
    if (has("Transfer-Encoding")) {
        if (!length.empty() || !getChunkedTransferEncoding() ||
            Poco::icompare(Poco::trim(get("Transfer-Encoding")), "chunked") != 0) {
            throw Poco::Net::MessageException("unsupported Transfer-Encoding");
        }
        m_bodyLength = -1;
    } else if (!length.empty()) {
        if (length.find_first_not_of("0123456789") != std::string::npos || length.size() > 18)
            throw Poco::Net::MessageException("bad Content-Length");
        m_bodyLength = std::stoll(length);
    }
}

void ServerRequest::setOrigin(const ClientOrigin& origin) {
    m_origin = origin;
    // Behind a proxy the Host asked for is the one it forwards.
    if (!origin.host.empty())
        setHost(origin.host);
}

std::istream& ServerRequest::stream() {
    if (!m_stream)
        startBody(true);
    return *m_stream;
}

void ServerRequest::startBody(bool mayContinue) {
    std::function<void()> beforeFirstRead;
    if (mayContinue && getExpectContinue() && m_response && getVersion() == HTTP_1_1) {
        ServerResponse* response = m_response;
        beforeFirstRead = [response] {
            if (!response->sent())
                response->sendContinue();
        };
    }
    m_body.reset(new BodyInput(m_io, m_limits, m_bodyLength, beforeFirstRead));
    m_stream.reset(new std::istream(m_body.get()));
}

bool ServerRequest::finishBody() {
    if (m_bodyLength == 0)
        return true;
    if (m_io.connection().broken())
        return false;
    if (!m_stream) {
        // Never asked for: a client waiting for "100 Continue" may or may
        // not send it now, so the connection cannot be trusted.
        if (getExpectContinue())
            return false;
        startBody(false);
    }
    return m_body->atEnd() || m_body->drain(kDrainBytes);
}

const Poco::Net::SocketAddress& ServerRequest::clientAddress() const {
    return m_origin.address;
}

const Poco::Net::SocketAddress& ServerRequest::serverAddress() const {
    if (!m_haveServer) {
        m_server = m_io.connection().local();
        m_haveServer = true;
    }
    return m_server;
}

const Poco::Net::HTTPServerParams& ServerRequest::serverParams() const {
    return m_params;
}

Poco::Net::HTTPServerResponse& ServerRequest::response() const {
    if (!m_response)
        throw Poco::IllegalStateException("no response for this request");
    return *m_response;
}

bool ServerRequest::secure() const {
    return m_origin.https;
}

}  // namespace Host
}  // namespace Orvane
