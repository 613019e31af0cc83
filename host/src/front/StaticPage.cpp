#include "front/StaticPage.h"

#include <Poco/FileStream.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/StreamCopier.h>

#include <map>

#include "front/HttpErrors.h"
#include "http/ResponseBody.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {
// A file name a page area may hold: letters, digits, "-", "_" and one or more
// "." not at the start, so no request can climb out of its area or reach a
// hidden file.
bool plainName(const std::string& name) {
    if (name.empty() || name[0] == '.' || name.size() > 64)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

std::string StaticPage::fileFor(const std::string& path) {
    static const std::map<std::string, std::string> pages = {
        {"/", "index.html"},
        {"/index.html", "index.html"},
        {"/ui/host.css", "host.css"},
    };
    auto it = pages.find(path);
    if (it != pages.end())
        return it->second;
    // The page areas: /ui/<area>/ is the area's index.html, /ui/<area>/<file>
    // one flat file of www/<area>/.
    static const char* const areas[] = {"core", "guest", "owner", "common"};
    for (const char* area : areas) {
        const std::string prefix = std::string("/ui/") + area + "/";
        if (path.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string name = path.substr(prefix.size());
        if (name.empty() || name == "index.html")
            return std::string(area) + "/index.html";
        return plainName(name) ? std::string(area) + "/" + name : std::string();
    }
    return std::string();
}

std::string StaticPage::contentType(const std::string& file) {
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".json", "application/json"},
    };
    for (const auto& type : types) {
        if (endsWith(file, type.first))
            return type.second;
    }
    return "application/octet-stream";
}

StaticPage::StaticPage(const std::string& wwwDir, const std::string& file)
    : m_wwwDir(wwwDir), m_file(file) {}

void StaticPage::handleRequest(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response) {
    if (!HttpErrors::readOnly(request, response))
        return;
    std::string body;
    try {
        Poco::FileInputStream in(m_wwwDir + "/" + m_file);
        Poco::StreamCopier::copyToString(in, body);
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("HttpFront").error("Cannot read page " + m_file + ": " + e.displayText());
        HttpErrors::send(response, HTTPResponse::HTTP_NOT_FOUND);
        return;
    }
    response.set("X-Frame-Options", "DENY");
    response.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    ResponseBody::send(response, HTTPResponse::HTTP_OK, contentType(m_file), "no-cache", body);
}

}  // namespace Host
}  // namespace Orvane
