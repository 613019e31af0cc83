#include "webdav/WebDAVHandler.h"

#include <Poco/Logger.h>

#include <map>
#include <string>

#include "bridge/PluginCall.h"
#include "bridge/ReplyWriter.h"
#include "front/HttpErrors.h"
#include "http/RequestBody.h"
#include "http/UrlPath.h"
#include "orvane/Util.h"
#include "webdav/WebDAVCopyMove.h"
#include "webdav/WebDAVExchange.h"
#include "webdav/WebDAVLocking.h"
#include "webdav/WebDAVPropfind.h"
#include "webdav/WebDAVWriter.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

const std::size_t kDrainBytes = 1024 * 1024;
const char* const METHODS =
    "OPTIONS, GET, HEAD, POST, PROPFIND, PROPPATCH, MKCOL, PUT, DELETE, COPY, MOVE, LOCK, UNLOCK";

void options(WebDAVExchange& x) {
    x.response.set("DAV", "1, 2");
    x.response.set("Allow", METHODS);
    // Office and the Windows client look for this before they write.
    x.response.set("MS-Author-Via", "DAV");
    x.status(HTTPResponse::HTTP_OK);
}

// The function serving each method, by name.
const std::map<std::string, WebDAVMethod::Serve>& served() {
    static const std::map<std::string, WebDAVMethod::Serve> table = [] {
        std::map<std::string, WebDAVMethod::Serve> byName{{"OPTIONS", options}};
        for (const WebDAVMethods& area : {WebDAVPropfind::methods(), WebDAVWriter::methods(),
                                          WebDAVCopyMove::methods(), WebDAVLocking::methods()}) {
            for (const WebDAVMethod& method : area)
                byName[method.name] = method.serve;
        }
        return byName;
    }();
    return table;
}

bool hasControl(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

// Names with a NUL or another control character are refused by the host
// itself, on its own decoding of the address and of the Destination: such a
// name once led a COPY into a removal that recursed thousands of frames
// deep, and no plug-in may be relied on to catch it first.
bool namesControl(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts) {
    if (hasControl(parts.operation))
        return true;
    if (!request.has("Destination"))
        return false;
    std::string path, query;
    UrlPath::split(request.get("Destination"), path, query);
    try {
        return hasControl(UrlPath::decode(path));
    } catch (const BadPath&) {
        return true;
    }
}

// The host's own judgement of what the plug-in allowed: 0 when it stands,
// else the status to answer. The profile and the system folders stay out of
// reach as they do for downloads; hidden entries do not exist for a visitor
// who may not write (writing guests keep them: clients such as the Finder
// store their metadata in "._" files); and no method removes, replaces or
// moves a folder that holds the profile.
int refusal(const std::string& method, const WebDAVTarget& t) {
    if (hasControl(t.path) || hasControl(t.destination))
        return HTTPResponse::HTTP_BAD_REQUEST;
    if (!t.isWriter() && Util::isHiddenBelow(t.path, t.shareRoot))
        return HTTPResponse::HTTP_NOT_FOUND;
    if (!Util::isAllowedPath(t.path, false, true) ||
        (!t.destination.empty() && !Util::isAllowedPath(t.destination, false, true)))
        return HTTPResponse::HTTP_FORBIDDEN;
    if ((method == "DELETE" || method == "MOVE") && Util::holdsProfile(t.path))
        return HTTPResponse::HTTP_FORBIDDEN;
    if (!t.destination.empty() && Util::holdsProfile(t.destination))
        return HTTPResponse::HTTP_FORBIDDEN;
    return 0;
}

}  // namespace

WebDAVHandler::WebDAVHandler(FrontContext& context, const RequestParts& parts)
    : m_context(context), m_parts(parts) {}

bool WebDAVHandler::wants(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts) {
    return RequestTranslator::isWebDAVMethod(request.getMethod()) &&
           (parts.operation == "share" || parts.operation.compare(0, 6, "share/") == 0);
}

void WebDAVHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                  Poco::Net::HTTPServerResponse& response) {
    m_address = request.clientAddress().host().toString();
    try {
        if (int left = m_context.credentialThrottle.blockedFor(m_address)) {
            dropBody(request, response);
            PluginCall::refuseBlocked(response, left);
            return;
        }
        // A fragment never belongs in a request: a client that sends one
        // would act on another resource than it names.
        if (request.getURI().find('#') != std::string::npos || namesControl(request, m_parts)) {
            dropBody(request, response);
            HttpErrors::send(response, HTTPResponse::HTTP_BAD_REQUEST);
            return;
        }
        WebDAVTarget target;
        if (ask(request, response, target))
            serve(request, response, target);
    } catch (const std::exception& e) {
        Poco::Logger::get("WebDAV").error(request.getMethod() + " " + m_parts.rawPath +
                                          " failed: " + e.what());
        // Part of a streamed answer may be out: the front must cut the
        // connection rather than end the body as if it were whole.
        if (response.sent())
            throw;
        response.setKeepAlive(false);
        HttpErrors::send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
    }
}

void WebDAVHandler::dropBody(Poco::Net::HTTPServerRequest& request,
                             Poco::Net::HTTPServerResponse& response) {
    if (RequestBody::announcesBody(request) && !RequestBody::discard(request, kDrainBytes))
        response.setKeepAlive(false);
}

bool WebDAVHandler::ask(Poco::Net::HTTPServerRequest& request,
                        Poco::Net::HTTPServerResponse& response, WebDAVTarget& target) {
    const Identity identity = m_context.authenticator.identify(request);
    auto msg = RequestTranslator::build(request, m_parts, identity);
    PendingReplies::Outcome outcome = PluginCall::ask(m_context, m_parts.plugin, msg);
    if (outcome.hostStatus != 0) {
        dropBody(request, response);
        HttpErrors::send(response, outcome.hostStatus);
        return false;
    }
    if (PluginCall::asksCredentials(m_context, *outcome.reply, identity, m_address)) {
        dropBody(request, response);
        ReplyWriter::write(*outcome.reply, response);
        return false;
    }
    target = WebDAVTarget::fromReply(*outcome.reply);
    const int refused =
        target.allow ? refusal(request.getMethod(), target) : HTTPResponse::HTTP_FORBIDDEN;
    if (refused != 0) {
        dropBody(request, response);
        HttpErrors::send(response, refused);
        return false;
    }
    return true;
}

void WebDAVHandler::serve(Poco::Net::HTTPServerRequest& request,
                          Poco::Net::HTTPServerResponse& response, const WebDAVTarget& target) {
    WebDAVExchange x(request, response, target);
    const auto method = served().find(request.getMethod());
    if (method != served().end()) {
        method->second(x);
    } else {
        response.set("Allow", METHODS);
        x.status(HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
    }
}

}  // namespace Host
}  // namespace Orvane
