// The body of a request as a stream buffer: Content-Length or chunked,
// read through the worker's ConnectionIo. Waiting for the body has a
// deadline that grows with what arrived (the grace time, plus a second for
// every body.min.rate bytes, as mod_reqtimeout counts); a client slower
// than that is cut off. The first read may first send "100 Continue".
// Used by the worker serving the request.
#pragma once

#include <Poco/BufferedStreamBuf.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/ConnectionIo.h"
#include "net/FrontLimits.h"

namespace Orvane {
namespace Host {

class BodyInput : public Poco::BufferedStreamBuf {
public:
    // `length` < 0: chunked. `beforeFirstRead` runs once, before the first
    // byte is awaited.
    BodyInput(ConnectionIo& io, const FrontLimits& limits, std::int64_t length,
              std::function<void()> beforeFirstRead);

    // True once the body was read to its end.
    bool atEnd() const { return m_done; }
    // Reads and drops up to `limit` bytes that are already at hand; true
    // when the body then ended.
    bool drain(std::size_t limit);

private:
    int readFromDevice(char* buffer, std::streamsize length) override;
    std::streamsize xsgetn(char* buffer, std::streamsize length) override;
    std::size_t readSome(char* buffer, std::size_t length);
    std::size_t readChunked(char* buffer, std::size_t length);
    bool nextChunk();
    std::string readLine();
    ConnectionIo::Clock::time_point deadline() const;

    ConnectionIo& m_io;
    const FrontLimits& m_limits;
    bool m_chunked;
    std::uint64_t m_left;  // of the body, or of the current chunk
    bool m_inChunk = false;
    bool m_done = false;
    bool m_started = false;
    bool m_draining = false;
    std::uint64_t m_received = 0;
    ConnectionIo::Clock::time_point m_start;
    std::function<void()> m_beforeFirstRead;
};

}  // namespace Host
}  // namespace Orvane
