// One client connection of the front: its socket and TLS session, the
// stage it waits in, and the bytes read ahead of the request being served
// (grown only while a header arrives, freed when idle). Non-blocking reads
// and writes only; ConnectionIo adds the waiting a worker needs. Owned by
// one thread at a time: the listener while the connection waits, a worker
// while it is served.
#pragma once

#include <Poco/Net/SocketAddress.h>

#include <chrono>
#include <cstddef>
#include <string>

struct ssl_st;

namespace Orvane {
namespace Host {

class AddressCaps;

class Connection {
public:
    using Clock = std::chrono::steady_clock;
    enum class Kind { Plain, Tls, Redirect };
    enum class Stage { Sniff, Handshake, Head, Busy, Idle, Linger };
    enum class Fill { Head, More, WantWrite, TooLarge, Closed };
    // What receive(), transmit() and handshake() return besides a count.
    static const long kWantRead = -1;
    static const long kWantWrite = -2;
    static const long kFailed = -3;

    // Takes the socket; the connection was counted in `caps` for `address`.
    Connection(int fd, Kind kind, const Poco::Net::SocketAddress& peer, AddressCaps& caps,
               bool viaProxy);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return m_fd; }
    Kind kind() const { return m_kind; }
    const Poco::Net::SocketAddress& peer() const { return m_peer; }
    Poco::Net::SocketAddress local() const;
    bool fromProxy() const { return m_viaProxy; }

    Stage stage = Stage::Sniff;
    Clock::time_point deadline;
    // Plain HTTP that arrived on the TLS port: answered with a redirect.
    bool plainOnTlsPort = false;

    void attachTls(ssl_st* ssl) { m_ssl = ssl; }
    ssl_st* ssl() const { return m_ssl; }
    long handshake();
    long receive(char* out, std::size_t n);
    long transmit(const char* data, std::size_t n);
    // Waits for poll(2) `events` until `until`; false when the time ran out.
    bool await(short events, Clock::time_point until) const;

    // Reads what has arrived until the header is complete.
    Fill fillHead(std::size_t maxBytes);
    // The header's length with its blank line, 0 while incomplete.
    std::size_t headLength();
    std::string takeHead();
    std::size_t buffered() const { return m_in.size() - m_pos; }
    const char* bufferedData() const { return m_in.data() + m_pos; }
    void consume(std::size_t n);
    // Appends what arrives to the buffer: the count, 0 at the end, or a
    // k-constant.
    long receiveMore();
    // Bytes ready to read without waiting (read ahead or inside TLS).
    bool pendingInput() const;
    // Between requests: drops what was consumed, frees an empty buffer.
    void compact();

    bool broken() const { return m_broken; }
    void markBroken() { m_broken = true; }
    // Ends the sending side cleanly (TLS close_notify, then FIN).
    void closeWrite();

private:
    long tlsResult(int result);

    int m_fd;
    Kind m_kind;
    Poco::Net::SocketAddress m_peer;
    std::string m_address;
    AddressCaps& m_caps;
    bool m_viaProxy;
    ssl_st* m_ssl = nullptr;
    bool m_tlsFailed = false;
    bool m_broken = false;
    std::string m_in;
    std::size_t m_pos = 0;
    std::size_t m_scan = 0;  // where the search for the header's end goes on
};

}  // namespace Host
}  // namespace Orvane
