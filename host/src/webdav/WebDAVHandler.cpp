#include "webdav/WebDAVHandler.h"

#include <Poco/Logger.h>

#include <map>
#include <string>

#include "bridge/PluginCall.h"
#include "bridge/ReplyWriter.h"
#include "front/HttpErrors.h"
#include "http/RequestBody.h"
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
        if (request.getURI().find('#') != std::string::npos) {
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
        if (!response.sent()) {
            response.setKeepAlive(false);
            HttpErrors::send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
        }
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
    if (!target.allow) {
        dropBody(request, response);
        HttpErrors::send(response, HTTPResponse::HTTP_FORBIDDEN);
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
