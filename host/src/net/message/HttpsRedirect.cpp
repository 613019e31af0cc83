#include "net/message/HttpsRedirect.h"

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include "front/HttpErrors.h"

namespace Orvane {
namespace Host {

namespace {

// The host part of a Host header ("name", "name:port", "[v6]:port"), or ""
// when it holds anything a host name cannot.
std::string hostName(const std::string& header) {
    std::string host = header;
    if (!host.empty() && host[0] == '[') {
        host = host.substr(0, host.find(']') + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    const std::string allowed =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-[]:";
    if (host.empty() || host.find_first_not_of(allowed) != std::string::npos)
        return std::string();
    return host;
}

}  // namespace

HttpsRedirect::HttpsRedirect(int tlsPort, const std::string& publicUrl, bool close)
    : m_tlsPort(tlsPort), m_publicUrl(publicUrl), m_close(close) {}

std::string HttpsRedirect::location(const Poco::Net::HTTPServerRequest& request) const {
    std::string target = request.getURI();
    if (target.empty() || target[0] != '/')
        target = "/";
    if (m_publicUrl.compare(0, 8, "https://") == 0) {
        std::string base = m_publicUrl;
        while (!base.empty() && base.back() == '/')
            base.pop_back();
        return base + target;
    }
    std::string host = hostName(request.getHost());
    if (host.empty())
        host = request.serverAddress().host().toString();
    if (host.find(':') != std::string::npos && host[0] != '[')
        host = "[" + host + "]";
    const std::string port = m_tlsPort == 443 ? "" : ":" + std::to_string(m_tlsPort);
    return "https://" + host + port + target;
}

void HttpsRedirect::handleRequest(Poco::Net::HTTPServerRequest& request,
                                  Poco::Net::HTTPServerResponse& response) {
    if (m_close)
        response.setKeepAlive(false);
    response.set("Location", location(request));
    HttpErrors::send(response, Poco::Net::HTTPResponse::HTTP_PERMANENT_REDIRECT,
                     "This site is served over HTTPS.");
}

}  // namespace Host
}  // namespace Orvane
