#include "StaticPage.h"

#include <Poco/FileStream.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/StreamCopier.h>

#include <map>

#include "HttpErrors.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

std::string StaticPage::fileFor(const std::string& path) {
    static const std::map<std::string, std::string> pages = {
        {"/", "index.html"},          {"/index.html", "index.html"},
        {"/ui/guest/", "guest.html"}, {"/ui/guest/guest.js", "guest.js"},
        {"/ui/host.css", "host.css"},
    };
    auto it = pages.find(path);
    return it == pages.end() ? std::string() : it->second;
}

std::string StaticPage::contentType(const std::string& file) {
    if (file.size() > 5 && file.compare(file.size() - 5, 5, ".html") == 0) {
        return "text/html; charset=utf-8";
    }
    if (file.size() > 3 && file.compare(file.size() - 3, 3, ".js") == 0) {
        return "text/javascript; charset=utf-8";
    }
    return "text/css; charset=utf-8";
}

StaticPage::StaticPage(const std::string& wwwDir, const std::string& file)
    : m_wwwDir(wwwDir), m_file(file) {}

void StaticPage::handleRequest(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response) {
    if (request.getMethod() != "GET" && request.getMethod() != "HEAD") {
        response.set("Allow", "GET, HEAD");
        HttpErrors::send(response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
        return;
    }
    std::string body;
    try {
        Poco::FileInputStream in(m_wwwDir + "/" + m_file);
        Poco::StreamCopier::copyToString(in, body);
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("HttpFront").error("Cannot read page " + m_file + ": " + e.displayText());
        HttpErrors::send(response, HTTPResponse::HTTP_NOT_FOUND);
        return;
    }
    response.setContentType(contentType(m_file));
    response.set("Cache-Control", "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("X-Frame-Options", "DENY");
    response.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    response.setContentLength(static_cast<std::streamsize>(body.size()));
    response.sendBuffer(body.data(), body.size());
}

}  // namespace Host
}  // namespace Orvane
