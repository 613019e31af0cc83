// Helpers of the front's suites: a raw TCP peer that may connect from any
// loopback address (127.0.0.2 plays a proxy) and reads answers with a
// bound, a TLS client connection that stays open across requests, and
// running the host or openssl/curl as a user would. One test thread.
#pragma once

#include <Poco/Net/SecureStreamSocket.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "HostProcess.h"

namespace E2E {

class FrontPeer {
public:
    explicit FrontPeer(int port, const std::string& from = "127.0.0.1");
    ~FrontPeer();
    FrontPeer(const FrontPeer&) = delete;
    FrontPeer& operator=(const FrontPeer&) = delete;

    bool send(const std::string& bytes);
    // One answer (head and Content-Length body) as text; what came before
    // the connection closed, "" when nothing did; bounded.
    std::string answer(std::chrono::milliseconds bound = std::chrono::seconds(15));
    // True when the host closes the connection within `bound` without
    // sending anything more.
    bool closesWithin(std::chrono::milliseconds bound);
    // One GET of `target` with extra header lines ("Name: value\r\n"...).
    std::string get(const std::string& target, const std::string& headers = "");

private:
    int m_fd = -1;
    std::string m_pending;
};

// A TLS connection that is kept across requests (no certificate check).
class TlsPeer {
public:
    explicit TlsPeer(int port);
    std::string get(const std::string& target);

private:
    Poco::Net::SecureStreamSocket m_socket;
};

// Status of an answer's text ("HTTP/1.1 308 ..." -> 308), 0 for none.
int statusOf(const std::string& answer);
// A header's value in an answer's text, "" when absent.
std::string headerOf(const std::string& answer, const std::string& name);
// Runs a shell command; its exit code, with stdout in `output`.
int shell(const std::string& command, std::string& output);
// Waits for "Share page: " in the host's output; the share page address.
std::string waitForSharePage(HostProcess& process);

}  // namespace E2E
