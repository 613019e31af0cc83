#include "net/message/ResponseOutput.h"

#include <algorithm>
#include <cstdio>

namespace Orvane {
namespace Host {

namespace {

const std::streamsize kBufferSize = 32 * 1024;

}  // namespace

ResponseOutput::ResponseOutput(ConnectionIo& io, Framing framing, std::uint64_t length)
    : Poco::BufferedStreamBuf(kBufferSize, std::ios::out),
      m_io(io),
      m_framing(framing),
      m_length(length) {}

int ResponseOutput::writeToDevice(const char* buffer, std::streamsize length) {
    const std::size_t n = static_cast<std::size_t>(length);
    bool ok = true;
    switch (m_framing) {
        case Framing::None:
            break;
        case Framing::Length: {
            const std::uint64_t room = m_length > m_written ? m_length - m_written : 0;
            const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(room, n));
            ok = kept == 0 || m_io.write(buffer, kept);
            m_written += kept;
            break;
        }
        case Framing::Chunked: {
            if (n == 0)
                break;
            char size[24];
            const int digits = std::snprintf(size, sizeof(size), "%zx\r\n", n);
            ok = m_io.write(size, static_cast<std::size_t>(digits)) && m_io.write(buffer, n) &&
                 m_io.write("\r\n", 2);
            break;
        }
        case Framing::UntilClose:
            ok = m_io.write(buffer, n);
            break;
    }
    return ok ? static_cast<int>(length) : -1;
}

int ResponseOutput::sync() {
    if (Poco::BufferedStreamBuf::sync() != 0)
        return -1;
    return m_io.flush() ? 0 : -1;
}

bool ResponseOutput::finish() {
    bool ok = sync() == 0;
    if (ok && m_framing == Framing::Chunked)
        ok = m_io.write("0\r\n\r\n", 5);
    if (m_framing == Framing::Length && m_written < m_length)
        ok = false;
    return m_io.flush() && ok && m_framing != Framing::UntilClose;
}

}  // namespace Host
}  // namespace Orvane
