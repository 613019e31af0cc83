// The blocking use of a connection by the worker serving it: reads that
// wait until a deadline, writes gathered into large pieces that give up
// when the client takes nothing for the stall time, and file bodies sent
// with sendfile(2), kernel TLS (SSL_sendfile) or large TLS writes. A
// failed write marks the connection broken; later writes fail at once.
// Lives on the worker's stack for one connection.
#pragma once

#include <cstdint>
#include <string>

#include "net/Connection.h"

namespace Orvane {
namespace Host {

class ConnectionIo {
public:
    using Clock = Connection::Clock;

    ConnectionIo(Connection& connection, int stallSeconds);

    Connection& connection() { return m_connection; }
    // How long a write may wait for the client to take something.
    void setStall(std::chrono::seconds stall) { m_stall = stall; }
    // True when everything written so far has left and been taken: a
    // small answer written now will not have to wait.
    bool drained() const;
    // At most n bytes, from what was read ahead first; 0 at the end of the
    // stream. Throws Poco::TimeoutException when nothing came by `until`,
    // Poco::Net::ConnectionResetException when the connection failed.
    std::size_t read(char* out, std::size_t n, Clock::time_point until);
    // Adds what arrives to the read-ahead bytes; false at the end.
    bool fill(Clock::time_point until);

    bool write(const char* data, std::size_t n);
    bool flush();
    bool sendFile(int fileFd, std::uint64_t offset, std::uint64_t count);

private:
    void awaitInput(long want, Clock::time_point until);
    bool writeNow(const char* data, std::size_t n);
    bool waitWritable(long want);
    // Reads a small file into the gathered output, after its headers.
    bool gatherFile(int fileFd, std::uint64_t offset, std::uint64_t count);
    bool sendPlainFile(int fileFd, std::uint64_t offset, std::uint64_t count);
    bool sendKernelTlsFile(int fileFd, std::uint64_t offset, std::uint64_t count);
    bool sendCopiedFile(int fileFd, std::uint64_t offset, std::uint64_t count);

    Connection& m_connection;
    std::chrono::seconds m_stall;
    std::string m_out;
};

}  // namespace Host
}  // namespace Orvane
