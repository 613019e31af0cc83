#include "webdav/WebDAVHandler.h"

#include <Poco/Logger.h>

#include "bridge/ReplyWriter.h"
#include "front/HttpErrors.h"
#include "http/RequestBody.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
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
            response.set("Retry-After", std::to_string(left));
            dropBody(request, response);
            HttpErrors::send(response, HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                             "Too many wrong credentials from your address. Try again later.");
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
    const std::string token = (*msg)[Defs::Sync::MS_SYNC][Defs::Sync::S_SYNC_TOKEN].getString();
    auto slot = m_context.pending.open(token, m_parts.plugin);
    if (!slot || !Orvane::Dispatcher()->postMessage(msg)) {
        if (slot)
            m_context.pending.close(slot);
        dropBody(request, response);
        HttpErrors::send(response, HTTPResponse::HTTP_SERVICE_UNAVAILABLE);
        return false;
    }
    PendingReplies::Outcome outcome = m_context.pending.wait(slot, m_context.replyTimeout);
    if (outcome.hostStatus != 0) {
        dropBody(request, response);
        HttpErrors::send(response, outcome.hostStatus);
        return false;
    }
    if (ReplyWriter::hasRealm(*outcome.reply)) {
        if (identity.hasCredentials)
            m_context.credentialThrottle.recordFailure(m_address);
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
    const std::string& method = request.getMethod();
    if (method == "OPTIONS")
        options(x);
    else if (method == "PROPFIND")
        WebDAVPropfind::propfind(x);
    else if (method == "PROPPATCH")
        WebDAVPropfind::proppatch(x);
    else if (method == "MKCOL")
        WebDAVWriter::mkcol(x);
    else if (method == "PUT")
        WebDAVWriter::put(x);
    else if (method == "DELETE")
        WebDAVWriter::remove(x);
    else if (method == "COPY")
        WebDAVCopyMove::copy(x);
    else if (method == "MOVE")
        WebDAVCopyMove::move(x);
    else if (method == "LOCK")
        WebDAVLocking::lock(x);
    else if (method == "UNLOCK")
        WebDAVLocking::unlock(x);
    else {
        response.set("Allow", METHODS);
        x.status(HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
    }
}

}  // namespace Host
}  // namespace Orvane
