// The body of an answer as a stream buffer over the worker's ConnectionIo,
// framed as the head announced it: a Content-Length (bytes past it are
// dropped), chunks, until the connection closes, or no body at all (HEAD,
// 204, 304). Used by the worker serving the request.
#pragma once

#include <Poco/BufferedStreamBuf.h>

#include <cstdint>

#include "net/ConnectionIo.h"

namespace Orvane {
namespace Host {

class ResponseOutput : public Poco::BufferedStreamBuf {
public:
    enum class Framing { Length, Chunked, UntilClose, None };

    ResponseOutput(ConnectionIo& io, Framing framing, std::uint64_t length);

    Framing framing() const { return m_framing; }
    // Bytes of the body sent around the stream (a file sent by the kernel).
    void countSent(std::uint64_t n) { m_written += n; }
    // Hands what the stream holds to the connection's gathered output
    // without sending it, so that a small file can follow in the same write.
    bool drain() { return Poco::BufferedStreamBuf::sync() == 0; }
    // Ends the body (the last chunk); false when a write failed or the body
    // fell short of its length, so the connection cannot carry another answer.
    bool finish();

private:
    int writeToDevice(const char* buffer, std::streamsize length) override;
    int sync() override;

    ConnectionIo& m_io;
    Framing m_framing;
    std::uint64_t m_length;
    std::uint64_t m_written = 0;
};

}  // namespace Host
}  // namespace Orvane
