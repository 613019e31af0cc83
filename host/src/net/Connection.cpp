#include "net/Connection.h"

#include <errno.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "net/AddressCaps.h"
#include "net/CidrRange.h"

namespace Orvane {
namespace Host {

namespace {

const std::size_t kReadChunk = 16384;

int clampInt(std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, INT_MAX));
}

}  // namespace

Connection::Connection(int fd, Kind kind, const Poco::Net::SocketAddress& peer, AddressCaps& caps,
                       bool viaProxy)
    : m_fd(fd),
      m_kind(kind),
      m_peer(peer),
      m_address(CidrRange::unmapped(peer.host()).toString()),
      m_caps(caps),
      m_viaProxy(viaProxy) {}

Connection::~Connection() {
    if (m_ssl) {
        // A session freed without a shutdown is taken out of the cache, and
        // the client could not resume it: a sound one is marked shut down.
        if (!m_tlsFailed)
            SSL_set_shutdown(m_ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
        SSL_free(m_ssl);
    }
    ::close(m_fd);
    m_caps.release(m_address, m_viaProxy);
}

Poco::Net::SocketAddress Connection::local() const {
    struct sockaddr_storage address;
    socklen_t length = sizeof(address);
    if (::getsockname(m_fd, reinterpret_cast<struct sockaddr*>(&address), &length) != 0)
        return Poco::Net::SocketAddress();
    return Poco::Net::SocketAddress(reinterpret_cast<struct sockaddr*>(&address), length);
}

long Connection::handshake() {
    ERR_clear_error();
    const int result = SSL_accept(m_ssl);
    if (result == 1)
        return 1;
    const long outcome = tlsResult(result);
    return outcome == 0 ? kFailed : outcome;
}

long Connection::receive(char* out, std::size_t n) {
    if (m_ssl) {
        ERR_clear_error();
        return tlsResult(SSL_read(m_ssl, out, clampInt(n)));
    }
    for (;;) {
        const ssize_t got = ::recv(m_fd, out, n, 0);
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWantRead : kFailed;
    }
}

long Connection::transmit(const char* data, std::size_t n) {
    if (m_ssl) {
        ERR_clear_error();
        const long outcome = tlsResult(SSL_write(m_ssl, data, clampInt(n)));
        return outcome == 0 ? kFailed : outcome;
    }
    for (;;) {
        const ssize_t sent = ::send(m_fd, data, n, MSG_NOSIGNAL);
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWantWrite : kFailed;
    }
}

long Connection::tlsResult(int result) {
    if (result > 0)
        return result;
    switch (SSL_get_error(m_ssl, result)) {
        case SSL_ERROR_WANT_READ:
            return kWantRead;
        case SSL_ERROR_WANT_WRITE:
            return kWantWrite;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        default:
            // A broken session must not be shut down politely later.
            m_tlsFailed = true;
            ERR_clear_error();
            return kFailed;
    }
}

bool Connection::await(short events, Clock::time_point until) const {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        struct pollfd ready = {m_fd, events, 0};
        const int result = ::poll(
            &ready, 1,
            static_cast<int>(std::max<long long>(0, std::min<long long>(left + 1, INT_MAX))));
        if (result > 0)
            return true;
        if (result == 0)
            return false;
        if (errno != EINTR)
            return true;  // the next read or write reports it
    }
}

Connection::Fill Connection::fillHead(std::size_t maxBytes) {
    for (;;) {
        if (const std::size_t length = headLength())
            return length > maxBytes ? Fill::TooLarge : Fill::Head;
        if (buffered() >= maxBytes)
            return Fill::TooLarge;
        const long got = receiveMore();
        if (got > 0)
            continue;
        if (got == kWantRead)
            return Fill::More;
        return got == kWantWrite ? Fill::WantWrite : Fill::Closed;
    }
}

long Connection::receiveMore() {
    char chunk[kReadChunk];
    const long got = receive(chunk, sizeof(chunk));
    if (got > 0)
        m_in.append(chunk, static_cast<std::size_t>(got));
    return got;
}

std::size_t Connection::headLength() {
    // Blank lines ahead of a request line are allowed and skipped.
    while (m_pos < m_in.size() && (m_in[m_pos] == '\r' || m_in[m_pos] == '\n'))
        ++m_pos;
    const std::size_t size = m_in.size();
    for (std::size_t i = std::max(m_scan, m_pos); i < size; ++i) {
        if (m_in[i] != '\n')
            continue;
        if (i + 1 < size && m_in[i + 1] == '\n')
            return i + 2 - m_pos;
        if (i + 2 < size && m_in[i + 1] == '\r' && m_in[i + 2] == '\n')
            return i + 3 - m_pos;
        if (i + 2 >= size) {
            m_scan = i;  // too few bytes yet to tell
            return 0;
        }
    }
    m_scan = size;
    return 0;
}

std::string Connection::takeHead() {
    const std::size_t length = headLength();
    std::string head(m_in, m_pos, length);
    consume(length);
    return head;
}

void Connection::consume(std::size_t n) {
    m_pos += std::min(n, buffered());
    m_scan = std::max(m_scan, m_pos);
}

bool Connection::pendingInput() const {
    return buffered() > 0 || (m_ssl && SSL_has_pending(m_ssl));
}

void Connection::compact() {
    if (m_pos >= m_in.size()) {
        std::string().swap(m_in);
    } else if (m_pos > 0) {
        m_in.erase(0, m_pos);
        m_in.shrink_to_fit();
    }
    m_scan = m_scan > m_pos ? m_scan - m_pos : 0;
    m_pos = 0;
}

void Connection::closeWrite() {
    if (m_ssl && !m_tlsFailed) {
        ERR_clear_error();
        SSL_shutdown(m_ssl);
    }
    ::shutdown(m_fd, SHUT_WR);
}

}  // namespace Host
}  // namespace Orvane
