// A small HTTP client for the suite: one keep-alive connection to the host
// on 127.0.0.1, requests with extra headers, whole answers in memory.
#pragma once

#include <Poco/Net/HTTPClientSession.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace E2E {

struct Answer {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::vector<std::string> cookies;            // every Set-Cookie
    bool has(const std::string& name) const { return headers.count(name) != 0; }
    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpClient {
public:
    explicit HttpClient(int port);

    Answer get(const std::string& target, const std::map<std::string, std::string>& headers = {});
    Answer head(const std::string& target, const std::map<std::string, std::string>& headers = {});
    Answer post(const std::string& target, const std::string& body,
                const std::map<std::string, std::string>& headers = {});
    Answer send(const std::string& method, const std::string& target, const std::string& body,
                const std::map<std::string, std::string>& headers);

private:
    int m_port;
    std::unique_ptr<Poco::Net::HTTPClientSession> m_session;
};

// Values of a Set-Cookie text: "name=value; Path=/; HttpOnly" -> attributes.
std::string cookieValue(const std::string& setCookie, const std::string& name);
bool cookieHas(const std::string& setCookie, const std::string& attribute);

// Text between <tag> and </tag>, "" when absent.
std::string xmlText(const std::string& xml, const std::string& tag);

}  // namespace E2E
