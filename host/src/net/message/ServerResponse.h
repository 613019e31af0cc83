// An answer as Poco's handlers know it, written to one of our connections:
// the head with the public site's headers (PublicHeaders), the body framed
// as announced (ResponseOutput), "100 Continue", and file ranges sent by
// the kernel (sendFileRange, for FileSender). Lives on the worker's stack
// for one request.
#pragma once

#include <Poco/Net/HTTPServerResponse.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>

#include "net/ConnectionIo.h"
#include "net/message/ResponseOutput.h"

namespace Orvane {
namespace Host {

class ServerRequest;

class ServerResponse : public Poco::Net::HTTPServerResponse {
public:
    ServerResponse(ConnectionIo& io, const ServerRequest& request);
    ~ServerResponse() override;

    // After the request's head is read: its version, keep-alive, HEAD.
    void prepare(bool keepAlive);

    void sendContinue() override;
    std::ostream& send() override;
    void sendFile(const std::string& path, const std::string& mediaType) override;
    void sendBuffer(const void* buffer, std::size_t length) override;
    void redirect(const std::string& uri, HTTPStatus status = HTTP_FOUND) override;
    void requireAuthentication(const std::string& realm) override;
    bool sent() const override { return m_sent; }

    // After send(): `count` bytes of the open file from `offset` as (the
    // rest of) the body. False when the client went away or stalled.
    bool sendFileRange(int fileFd, std::uint64_t offset, std::uint64_t count);
    // Ends the answer; false when the connection cannot carry another one.
    bool finish();

    // An answer left for later: called once, from any thread, with what
    // writes it and whether it is small (it may then be written on the
    // thread the reply reached, else a worker of the front writes it).
    using Parked = std::function<void(std::function<void()> write, bool small)>;
    using Parking = std::function<Parked()>;
    // Offered by the exchange before the handler runs.
    void offerParking(Parking parking) { m_parking = std::move(parking); }
    // Null when this answer cannot wait. Otherwise the handler writes
    // nothing itself and calls the result exactly once.
    Parked park();
    bool parked() const { return m_parked; }

private:
    ResponseOutput::Framing frame();
    bool writeHead();

    ConnectionIo& m_io;
    const ServerRequest& m_request;
    bool m_headOnly = false;
    bool m_sent = false;
    bool m_continued = false;
    bool m_parked = false;
    Parking m_parking;
    std::unique_ptr<ResponseOutput> m_output;
    std::unique_ptr<std::ostream> m_stream;
};

}  // namespace Host
}  // namespace Orvane
