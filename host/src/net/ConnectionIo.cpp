#include "net/ConnectionIo.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Net/NetException.h>
#include <errno.h>
#include <linux/sockios.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Orvane {
namespace Host {

namespace {

// Writes smaller than this are gathered (headers with a short body go out
// in one piece); larger ones go straight to the socket.
const std::size_t kGather = 64 * 1024;
// A file this small goes out in the same write as its headers: read into
// the gathered output, it costs one system call and one segment instead of
// a write and a sendfile.
const std::uint64_t kSmallFile = 16 * 1024;
// One sendfile call at most; the kernel moves it without our memory.
const std::uint64_t kFileChunk = 16u << 20;
// One TLS write of a file without kernel TLS: large, so that OpenSSL fills
// whole records and the calls stay few.
const std::size_t kCopyChunk = 256 * 1024;

}  // namespace

ConnectionIo::ConnectionIo(Connection& connection, int stallSeconds)
    : m_connection(connection), m_stall(stallSeconds) {}

std::size_t ConnectionIo::read(char* out, std::size_t n, Clock::time_point until) {
    if (const std::size_t ready = std::min(n, m_connection.buffered())) {
        std::memcpy(out, m_connection.bufferedData(), ready);
        m_connection.consume(ready);
        return ready;
    }
    for (;;) {
        const long got = m_connection.receive(out, n);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        awaitInput(got, until);
    }
}

bool ConnectionIo::fill(Clock::time_point until) {
    for (;;) {
        const long got = m_connection.receiveMore();
        if (got >= 0)
            return got > 0;
        awaitInput(got, until);
    }
}

void ConnectionIo::awaitInput(long want, Clock::time_point until) {
    if (want == Connection::kFailed) {
        m_connection.markBroken();
        throw Poco::Net::ConnectionResetException("the connection failed");
    }
    if (!m_connection.await(want == Connection::kWantWrite ? POLLOUT : POLLIN, until)) {
        m_connection.markBroken();
        throw Poco::TimeoutException("the client sent too slowly");
    }
}

bool ConnectionIo::drained() const {
    int unsent = 0;
    return m_out.empty() && ::ioctl(m_connection.fd(), SIOCOUTQ, &unsent) == 0 && unsent == 0;
}

bool ConnectionIo::write(const char* data, std::size_t n) {
    if (m_connection.broken())
        return false;
    if (m_out.size() + n <= kGather) {
        m_out.append(data, n);
        return true;
    }
    if (!flush())
        return false;
    if (n < kGather) {
        m_out.append(data, n);
        return true;
    }
    return writeNow(data, n);
}

bool ConnectionIo::flush() {
    if (m_connection.broken())
        return false;
    if (m_out.empty())
        return true;
    const bool done = writeNow(m_out.data(), m_out.size());
    m_out.clear();
    if (m_out.capacity() > kGather)
        std::string().swap(m_out);
    return done;
}

bool ConnectionIo::writeNow(const char* data, std::size_t n) {
    while (n > 0) {
        const long sent = m_connection.transmit(data, n);
        if (sent > 0) {
            data += sent;
            n -= static_cast<std::size_t>(sent);
        } else if (!waitWritable(sent)) {
            return false;
        }
    }
    return true;
}

bool ConnectionIo::waitWritable(long want) {
    if (want == Connection::kFailed || want == 0 ||
        !m_connection.await(want == Connection::kWantRead ? POLLIN : POLLOUT,
                            Clock::now() + m_stall)) {
        m_connection.markBroken();
        return false;
    }
    return true;
}

bool ConnectionIo::sendFile(int fileFd, std::uint64_t offset, std::uint64_t count) {
    if (count <= kSmallFile && m_out.size() + count <= kGather)
        return gatherFile(fileFd, offset, count);
    if (!flush())
        return false;
    SSL* ssl = m_connection.ssl();
    if (!ssl)
        return sendPlainFile(fileFd, offset, count);
    if (BIO_get_ktls_send(SSL_get_wbio(ssl)))
        return sendKernelTlsFile(fileFd, offset, count);
    return sendCopiedFile(fileFd, offset, count);
}

bool ConnectionIo::gatherFile(int fileFd, std::uint64_t offset, std::uint64_t count) {
    if (m_connection.broken())
        return false;
    const std::size_t start = m_out.size();
    m_out.resize(start + count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n =
            ::pread(fileFd, &m_out[start + got], count - got, static_cast<off_t>(offset + got));
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            Poco::Logger::get("HttpFront").warning("File ended before its announced length");
            m_out.resize(start);
            m_connection.markBroken();
            return false;
        }
    }
    return true;
}

bool ConnectionIo::sendPlainFile(int fileFd, std::uint64_t offset, std::uint64_t count) {
    off_t position = static_cast<off_t>(offset);
    while (count > 0) {
        const ssize_t sent =
            ::sendfile(m_connection.fd(), fileFd, &position, std::min(count, kFileChunk));
        if (sent > 0) {
            count -= static_cast<std::uint64_t>(sent);
        } else if (sent == 0) {
            Poco::Logger::get("HttpFront").warning("File ended before its announced length");
            m_connection.markBroken();
            return false;
        } else if (errno != EINTR &&
                   !waitWritable(errno == EAGAIN ? Connection::kWantWrite : Connection::kFailed)) {
            return false;
        }
    }
    return true;
}

bool ConnectionIo::sendKernelTlsFile(int fileFd, std::uint64_t offset, std::uint64_t count) {
    SSL* ssl = m_connection.ssl();
    while (count > 0) {
        ERR_clear_error();
        const ossl_ssize_t sent =
            SSL_sendfile(ssl, fileFd, static_cast<off_t>(offset), std::min(count, kFileChunk), 0);
        if (sent > 0) {
            offset += static_cast<std::uint64_t>(sent);
            count -= static_cast<std::uint64_t>(sent);
            continue;
        }
        const int error = SSL_get_error(ssl, static_cast<int>(sent));
        if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) {
            m_connection.markBroken();
            return false;
        }
        if (!waitWritable(error == SSL_ERROR_WANT_READ ? Connection::kWantRead
                                                       : Connection::kWantWrite)) {
            return false;
        }
    }
    return true;
}

bool ConnectionIo::sendCopiedFile(int fileFd, std::uint64_t offset, std::uint64_t count) {
    std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyChunk)));
    while (count > 0) {
        const ssize_t got =
            ::pread(fileFd, chunk.data(), std::min<std::uint64_t>(count, chunk.size()),
                    static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            Poco::Logger::get("HttpFront").warning("File ended before its announced length");
            m_connection.markBroken();
            return false;
        }
        if (!writeNow(chunk.data(), static_cast<std::size_t>(got)))
            return false;
        offset += static_cast<std::uint64_t>(got);
        count -= static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace Host
}  // namespace Orvane
