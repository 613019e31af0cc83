#include "net/message/BodyInput.h"

#include <Poco/Net/NetException.h>

#include <cstring>

namespace Orvane {
namespace Host {

namespace {

const std::streamsize kBufferSize = 32 * 1024;
const std::size_t kMaxChunkLine = 4096;

std::uint64_t chunkSize(const std::string& line) {
    std::uint64_t size = 0;
    std::size_t digits = 0;
    for (char c : line) {
        int value = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (value < 0)
            break;
        if (++digits > 15)
            throw Poco::Net::MessageException("chunk size out of range");
        size = size * 16 + static_cast<std::uint64_t>(value);
    }
    const std::string rest = line.substr(digits);
    if (digits == 0 || (!rest.empty() && rest[0] != ';' && rest[0] != ' ' && rest[0] != '\t'))
        throw Poco::Net::MessageException("bad chunk size line");
    return size;
}

}  // namespace

BodyInput::BodyInput(ConnectionIo& io, const FrontLimits& limits, std::int64_t length,
                     std::function<void()> beforeFirstRead)
    : Poco::BufferedStreamBuf(kBufferSize, std::ios::in),
      m_io(io),
      m_limits(limits),
      m_chunked(length < 0),
      m_left(length < 0 ? 0 : static_cast<std::uint64_t>(length)),
      m_done(length == 0),
      m_beforeFirstRead(std::move(beforeFirstRead)) {}

int BodyInput::readFromDevice(char* buffer, std::streamsize length) {
    if (m_done || length <= 0)
        return 0;
    if (!m_started) {
        m_started = true;
        if (m_beforeFirstRead)
            m_beforeFirstRead();
        m_start = ConnectionIo::Clock::now();
    }
    const std::size_t n = static_cast<std::size_t>(length);
    const std::size_t got = m_chunked ? readChunked(buffer, n) : readSome(buffer, n);
    m_received += got;
    return static_cast<int>(got);
}

// A large read goes straight into the caller's memory, without passing
// through the stream's own buffer: one copy less, and fewer reads.
std::streamsize BodyInput::xsgetn(char* buffer, std::streamsize length) {
    std::streamsize got = 0;
    const std::streamsize held = std::min<std::streamsize>(egptr() - gptr(), length);
    if (held > 0) {
        std::memcpy(buffer, gptr(), static_cast<std::size_t>(held));
        gbump(static_cast<int>(held));
        got = held;
    }
    while (length - got >= kBufferSize) {
        const int n =
            readFromDevice(buffer + got, std::min<std::streamsize>(length - got, 1 << 30));
        if (n <= 0)
            return got;
        got += n;
    }
    if (got < length)
        got += Poco::BufferedStreamBuf::xsgetn(buffer + got, length - got);
    return got;
}

std::size_t BodyInput::readSome(char* buffer, std::size_t length) {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_left));
    const std::size_t got = m_io.read(buffer, wanted, deadline());
    if (got == 0) {
        m_io.connection().markBroken();
        throw Poco::Net::ConnectionResetException("the client left before the end of the body");
    }
    m_left -= got;
    if (!m_chunked && m_left == 0)
        m_done = true;
    return got;
}

std::size_t BodyInput::readChunked(char* buffer, std::size_t length) {
    if (m_left == 0 && !nextChunk())
        return 0;
    return readSome(buffer, length);
}

bool BodyInput::nextChunk() {
    if (m_inChunk && !readLine().empty())
        throw Poco::Net::MessageException("a chunk is longer than announced");
    m_inChunk = true;
    m_left = chunkSize(readLine());
    if (m_left > 0)
        return true;
    // Trailer fields are not used; a few are let through.
    for (int lines = 0; !readLine().empty(); ++lines) {
        if (lines > 100)
            throw Poco::Net::MessageException("too many trailer fields");
    }
    m_done = true;
    return false;
}

std::string BodyInput::readLine() {
    Connection& connection = m_io.connection();
    for (;;) {
        const char* data = connection.bufferedData();
        const void* end = std::memchr(data, '\n', connection.buffered());
        if (end) {
            std::size_t length = static_cast<const char*>(end) - data;
            std::string line(data, length && data[length - 1] == '\r' ? length - 1 : length);
            connection.consume(length + 1);
            return line;
        }
        if (connection.buffered() > kMaxChunkLine)
            throw Poco::Net::MessageException("chunk line too long");
        if (!m_io.fill(deadline())) {
            connection.markBroken();
            throw Poco::Net::ConnectionResetException("the client left inside a chunk");
        }
    }
}

ConnectionIo::Clock::time_point BodyInput::deadline() const {
    const auto now = ConnectionIo::Clock::now();
    if (m_draining)
        return now;
    const std::chrono::seconds grace(m_limits.bodyGraceSeconds);
    if (m_limits.bodyMinRate <= 0)
        return now + grace;
    return m_start + grace +
           std::chrono::milliseconds(m_received * 1000 /
                                     static_cast<std::uint64_t>(m_limits.bodyMinRate));
}

bool BodyInput::drain(std::size_t limit) {
    m_draining = true;
    if (!m_started) {
        m_started = true;  // without "100 Continue": the client was not asked for it
        m_start = ConnectionIo::Clock::now();
    }
    char scrap[8192];
    std::size_t dropped = 0;
    try {
        while (!m_done && dropped <= limit)
            dropped += static_cast<std::size_t>(readFromDevice(scrap, sizeof(scrap)));
    } catch (const Poco::Exception&) {
        return false;
    }
    return m_done;
}

}  // namespace Host
}  // namespace Orvane
