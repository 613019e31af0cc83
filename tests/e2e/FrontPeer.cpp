#include "FrontPeer.h"

#include <Poco/Net/Context.h>
#include <Poco/String.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "HostProcess.h"

namespace E2E {

namespace {

using Clock = std::chrono::steady_clock;

std::size_t contentLength(const std::string& head) {
    const std::string value = headerOf(head, "Content-Length");
    return value.empty() ? 0 : std::stoul(value);
}

}  // namespace

FrontPeer::FrontPeer(int port, const std::string& from) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in local = {};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    struct sockaddr_in remote = {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        ::connect(m_fd, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0) {
        throw std::runtime_error("cannot connect from " + from);
    }
}

FrontPeer::~FrontPeer() {
    ::close(m_fd);
}

bool FrontPeer::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string FrontPeer::answer(std::chrono::milliseconds bound) {
    const Clock::time_point end = Clock::now() + bound;
    std::string& text = m_pending;
    for (;;) {
        const std::size_t headEnd = text.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const std::size_t total = headEnd + 4 + contentLength(text.substr(0, headEnd + 4));
            if (text.size() >= total) {
                std::string one = text.substr(0, total);
                text.erase(0, total);
                return one;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        struct pollfd ready = {m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[16384];
        const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    std::string rest;
    rest.swap(text);
    return rest;
}

bool FrontPeer::closesWithin(std::chrono::milliseconds bound) {
    if (!m_pending.empty())
        return false;
    struct pollfd ready = {m_fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(bound.count())) <= 0)
        return false;
    char byte;
    return ::recv(m_fd, &byte, 1, 0) <= 0;
}

std::string FrontPeer::get(const std::string& target, const std::string& headers) {
    if (!send("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n"))
        return std::string();
    return answer();
}

TlsPeer::TlsPeer(int port)
    : m_socket(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)),
               new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, "",
                                      Poco::Net::Context::VERIFY_NONE)) {
    m_socket.setReceiveTimeout(Poco::Timespan(15, 0));
}

std::string TlsPeer::get(const std::string& target) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
    m_socket.sendBytes(request.data(), static_cast<int>(request.size()));
    std::string text;
    char buffer[16384];
    for (;;) {
        const std::size_t headEnd = text.find("\r\n\r\n");
        if (headEnd != std::string::npos &&
            text.size() >= headEnd + 4 + contentLength(text.substr(0, headEnd + 4))) {
            return text;
        }
        const int n = m_socket.receiveBytes(buffer, sizeof(buffer));
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

int statusOf(const std::string& answer) {
    if (answer.compare(0, 5, "HTTP/") != 0 || answer.size() < 12)
        return 0;
    return std::atoi(answer.c_str() + 9);
}

std::string headerOf(const std::string& answer, const std::string& name) {
    const std::size_t end = answer.find("\r\n\r\n");
    const std::string head =
        Poco::toLower(end == std::string::npos ? answer : answer.substr(0, end + 2));
    const std::string key = "\r\n" + Poco::toLower(name) + ":";
    const std::size_t at = head.find(key);
    if (at == std::string::npos)
        return std::string();
    const std::size_t start = at + key.size();
    return Poco::trim(answer.substr(start, head.find("\r\n", start) - start));
}

int shell(const std::string& command, std::string& output) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return -1;
    output.clear();
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string waitForSharePage(HostProcess& process) {
    std::string page;
    pollUntil([&] {
        const std::string out = process.output();
        const std::size_t at = out.find("Share page: ");
        if (at != std::string::npos)
            page = out.substr(at + 12, out.find('\n', at) - at - 12);
        return !page.empty() || !process.running();
    });
    if (page.empty())
        throw std::runtime_error("the host did not start:\n" + process.output() + process.errors());
    return page;
}

}  // namespace E2E
