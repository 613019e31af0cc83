// The server's TLS settings and the certificate it shows: TLS 1.2 and 1.3
// only, the "intermediate" cipher list, a server-side session cache for
// resumption, buffers released while a connection idles, kernel TLS where
// the kernel offers it. Built on Poco's NetSSL context. reload() re-reads
// the files (SIGHUP) and swaps the context for new handshakes only;
// sessions under way keep theirs. Thread-safe.
#pragma once

#include <Poco/Net/Context.h>

#include <mutex>
#include <string>

struct ssl_st;

namespace Orvane {
namespace Host {

class TlsContext {
public:
    // Loads the PEM chain and key; throws Orvane::Exception with one line.
    TlsContext(const std::string& certificateFile, const std::string& keyFile);
    ~TlsContext();

    // Throws, keeping the context in use, when the files cannot be used.
    void reload();
    // A server session on the socket for a new handshake; null on failure.
    ssl_st* newSession(int fd) const;
    // SHA-256 of the certificate, "AB:CD:..".
    std::string fingerprint() const;

private:
    Poco::Net::Context::Ptr build(std::string& fingerprint) const;

    const std::string m_certificateFile, m_keyFile;
    mutable std::mutex m_mutex;
    Poco::Net::Context::Ptr m_context;
    std::string m_fingerprint;
};

}  // namespace Host
}  // namespace Orvane
