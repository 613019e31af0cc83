#include "front/RequestRouter.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPServerRequest.h>

#include "auth/GuestLogin.h"
#include "bridge/PluginRequestHandler.h"
#include "bridge/UploadHandler.h"
#include "front/ErrorHandler.h"
#include "front/ShortLinkHandler.h"
#include "front/StaticPage.h"
#include "http/UrlPath.h"
#include "owner/OwnerApi.h"
#include "owner/OwnerLogin.h"
#include "tus/TusCreation.h"
#include "tus/TusResource.h"
#include "tus/TusStore.h"
#include "webdav/WebDAVHandler.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

RequestRouter::RequestRouter(FrontContext& context) : m_context(context) {
    // The resumable uploads of an earlier run are taken up before the
    // first request can ask for them.
    TusStore::instance().openProfile();
}

Poco::Net::HTTPRequestHandler* RequestRouter::createRequestHandler(
    const Poco::Net::HTTPServerRequest& request) {
    std::string raw, query, path;
    UrlPath::split(request.getURI(), raw, query);
    Poco::Logger::get("HttpFront")
        .debug(request.clientAddress().toString() + " " + request.getMethod() + " " +
               UrlPath::normalize(raw));
    try {
        path = UrlPath::decode(raw);
    } catch (const BadPath& e) {
        return new ErrorHandler(HTTPResponse::HTTP_BAD_REQUEST,
                                std::string("The address has a ") + e.what() + ".");
    }
    if (path.compare(0, 5, "/app/") == 0) {
        if (auto* handler = pluginHandler(request, path, raw, query))
            return handler;
    }
    if (auto* handler = hostHandler(path))
        return handler;
    return new ErrorHandler(HTTPResponse::HTTP_NOT_FOUND, "There is nothing at this address.");
}

Poco::Net::HTTPRequestHandler* RequestRouter::pluginHandler(
    const Poco::Net::HTTPServerRequest& request, const std::string& path, const std::string& raw,
    const std::string& query) {
    const std::string rest = path.substr(5);
    const std::string::size_type slash = rest.find('/');
    const std::string name = rest.substr(0, slash);
    if (!m_context.plugins.count(name))
        return nullptr;
    RequestParts parts;
    parts.plugin = name;
    parts.operation = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    parts.rawPath = UrlPath::normalize(raw);
    parts.query = UrlPath::normalize(query, "?");
    // Uploads (resumable, or multipart) stream to disk and WebDAV on shares
    // is served by the host after asking the plug-in; every other request
    // is a message.
    if (TusResource::wants(parts))
        return new TusResource(m_context, parts);
    if (TusCreation::wants(request, parts))
        return new TusCreation(m_context, parts);
    if (UploadHandler::wants(request, parts))
        return new UploadHandler(m_context, parts);
    if (WebDAVHandler::wants(request, parts))
        return new WebDAVHandler(m_context, parts);
    return new PluginRequestHandler(m_context, parts);
}

Poco::Net::HTTPRequestHandler* RequestRouter::hostHandler(const std::string& path) {
    if (path.size() > 4 && path.compare(0, 4, "/url") == 0) {
        return new ShortLinkHandler(path.substr(4));
    }
    if (path == "/ui/guest/login")
        return new GuestLogin(m_context, GuestLogin::LOGIN);
    if (path == "/ui/guest/logout")
        return new GuestLogin(m_context, GuestLogin::LOGOUT);
    if (path == "/ui/owner/login")
        return new OwnerLogin(m_context, OwnerLogin::LOGIN);
    if (path == "/ui/owner/logout")
        return new OwnerLogin(m_context, OwnerLogin::LOGOUT);
    static const std::string ownerApi = "/ui/owner/api/";
    if (path.compare(0, ownerApi.size(), ownerApi) == 0)
        return new OwnerApi(m_context, path.substr(ownerApi.size()));
    if (path == "/ui/guest" || path == "/ui/owner" || path == "/ui/core") {
        return new ErrorHandler(HTTPResponse::HTTP_MOVED_PERMANENTLY, "", path + "/");
    }
    const std::string file = StaticPage::fileFor(path);
    if (!file.empty())
        return new StaticPage(m_context.wwwDir, file);
    return nullptr;
}

}  // namespace Host
}  // namespace Orvane
