#include "front/ShortLinkHandler.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include <cctype>

#include "front/HttpErrors.h"
#include "http/HeaderText.h"
#include "http/UrlPath.h"
#include "orvane/ShortURLManager.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

bool isCode(const std::string& code) {
    if (code.empty() || code.size() > 64)
        return false;
    for (unsigned char c : code) {
        if (!std::isalnum(c) && c != '-' && c != '_')
            return false;
    }
    return true;
}

}  // namespace

ShortLinkHandler::ShortLinkHandler(const std::string& code) : m_code(code) {}

bool ShortLinkHandler::isLocalPath(const std::string& path) {
    if (path.empty() || path[0] != '/' || path.compare(0, 2, "//") == 0)
        return false;
    if (path.compare(0, 2, "/\\") == 0)
        return false;
    return HeaderText::clean(path) == path;
}

void ShortLinkHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                     Poco::Net::HTTPServerResponse& response) {
    if (!HttpErrors::readOnly(request, response))
        return;
    std::string path;
    try {
        if (!isCode(m_code) || !Orvane::ShortURLManager().resolveShortURL(m_code, path))
            path.clear();
    } catch (const std::exception& e) {
        Poco::Logger::get("HttpFront").error(std::string("Short link lookup failed: ") + e.what());
        path.clear();
    }
    if (!isLocalPath(path)) {
        HttpErrors::send(response, HTTPResponse::HTTP_NOT_FOUND, "There is no such link.");
        return;
    }
    const std::string location = UrlPath::normalize(path, "?#");
    const std::string body = "<!DOCTYPE html><html><body><a href=\"" + HeaderText::html(location) +
                             "\">Continue</a></body></html>\n";
    response.setStatusAndReason(HTTPResponse::HTTP_FOUND);
    response.set("Location", location);
    response.set("Cache-Control", "no-store");
    response.setContentType("text/html; charset=utf-8");
    response.setContentLength(static_cast<std::streamsize>(body.size()));
    response.sendBuffer(body.data(), body.size());
}

}  // namespace Host
}  // namespace Orvane
