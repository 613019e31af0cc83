// A request as Poco's handlers know it, over one of our connections: the
// head parsed from the bytes the listener gathered, the body as a stream
// (Content-Length or chunked, with the minimum rate), and the client as
// found through the trusted proxies, which clientAddress() and secure()
// report to every handler. Lives on the worker's stack for one request.
#pragma once

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>

#include <istream>
#include <memory>
#include <string>

#include "net/ConnectionIo.h"
#include "net/FrontLimits.h"
#include "net/TrustedProxies.h"
#include "net/message/BodyInput.h"

namespace Orvane {
namespace Host {

class ServerResponse;

class ServerRequest : public Poco::Net::HTTPServerRequest {
public:
    ServerRequest(ConnectionIo& io, const FrontLimits& limits,
                  const Poco::Net::HTTPServerParams& params);
    ~ServerRequest() override;

    // Throws Poco::Net::MessageException (or another Poco::Exception) for a
    // head that cannot be served: bad syntax, a body framed two ways.
    void parse(const std::string& head);
    void setOrigin(const ClientOrigin& origin);
    const ClientOrigin& origin() const { return m_origin; }
    void setResponse(ServerResponse& response) { m_response = &response; }

    std::istream& stream() override;
    const Poco::Net::SocketAddress& clientAddress() const override;
    const Poco::Net::SocketAddress& serverAddress() const override;
    const Poco::Net::HTTPServerParams& serverParams() const override;
    Poco::Net::HTTPServerResponse& response() const override;
    bool secure() const override;

    // After the handler: true when the body was read to its end, or the
    // rest of it was at hand and is now dropped.
    bool finishBody();

private:
    void checkFraming();
    void startBody(bool mayContinue);

    ConnectionIo& m_io;
    const FrontLimits& m_limits;
    const Poco::Net::HTTPServerParams& m_params;
    ServerResponse* m_response = nullptr;
    ClientOrigin m_origin;
    std::int64_t m_bodyLength = 0;  // -1: chunked
    std::unique_ptr<BodyInput> m_body;
    std::unique_ptr<std::istream> m_stream;
    mutable Poco::Net::SocketAddress m_server;
    mutable bool m_haveServer = false;
};

}  // namespace Host
}  // namespace Orvane
