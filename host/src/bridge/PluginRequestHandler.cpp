#include "bridge/PluginRequestHandler.h"

#include <Poco/Logger.h>

#include "bridge/FileSender.h"
#include "bridge/PluginCall.h"
#include "bridge/ReplyWriter.h"
#include "bridge/SendFileComplete.h"
#include "front/HttpErrors.h"
#include "http/RequestBody.h"
#include "net/message/ServerResponse.h"

#include <sys/stat.h>

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

PluginRequestHandler::PluginRequestHandler(FrontContext& context, const RequestParts& parts)
    : m_context(context), m_parts(parts) {}

void PluginRequestHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                         Poco::Net::HTTPServerResponse& response) {
    m_address = request.clientAddress().host().toString();
    try {
        if (admit(request, response))
            forward(request, response);
    } catch (const std::exception& e) {
        Poco::Logger::get("HttpFront").error("Request " + m_parts.rawPath + " failed: " + e.what());
        if (!response.sent())
            HttpErrors::send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
    }
}

bool PluginRequestHandler::admit(Poco::Net::HTTPServerRequest& request,
                                 Poco::Net::HTTPServerResponse& response) {
    if (int left = m_context.credentialThrottle.blockedFor(m_address)) {
        PluginCall::refuseBlocked(response, left);
        return false;
    }
    if (RequestTranslator::isWebDAVMethod(request.getMethod())) {
        if (RequestBody::announcesBody(request))
            response.setKeepAlive(false);
        response.set("Allow", "GET, HEAD, POST");
        HttpErrors::send(response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
        return false;
    }
    if (request.getMethod() == "POST") {
        try {
            m_parts.body = RequestBody::read(request);
            m_parts.hasBody = true;
        } catch (const BodyTooLarge&) {
            if (!RequestBody::discard(request, 16 * RequestBody::kMaxBytes)) {
                response.setKeepAlive(false);
            }
            HttpErrors::send(response, HTTPResponse::HTTP_REQUESTENTITYTOOLARGE,
                             "Form posts are limited to 1 MiB.");
            return false;
        }
    } else if (RequestBody::announcesBody(request)) {
        response.setKeepAlive(false);  // its body stays unread
    }
    return true;
}

void PluginRequestHandler::forward(Poco::Net::HTTPServerRequest& request,
                                   Poco::Net::HTTPServerResponse& response) {
    const Identity identity = m_context.authenticator.identify(request);
    if (identity.crossSiteOwner) {
        HttpErrors::send(response, HTTPResponse::HTTP_FORBIDDEN,
                         "The owner's session is not used on requests from other sites.");
        return;
    }
    auto msg = RequestTranslator::build(request, m_parts, identity);
    PendingReplies::SlotPtr slot = PluginCall::post(m_context, m_parts.plugin, msg);
    if (!slot) {
        HttpErrors::send(response, HTTPResponse::HTTP_SERVICE_UNAVAILABLE);
        return;
    }
    auto* own = dynamic_cast<ServerResponse*>(&response);
    ServerResponse::Parked later = own ? own->park() : ServerResponse::Parked();
    if (!later) {
        answer(m_context, m_context.pending.wait(slot, m_context.replyTimeout), identity, m_address,
               request, response);
        return;
    }
    // This thread goes back to serve others; the answer is written when the
    // reply comes, by the thread it reaches or by a worker of the front.
    FrontContext* context = &m_context;
    const std::string address = m_address;
    Poco::Net::HTTPServerRequest* req = &request;
    m_context.pending.expect(
        slot, PendingReplies::Clock::now() + m_context.replyTimeout,
        [=](const PendingReplies::Outcome& outcome) {
            later([=] { answer(*context, outcome, identity, address, *req, req->response()); },
                  isSmall(outcome, *req));
        });
}

void PluginRequestHandler::answer(FrontContext& context, const PendingReplies::Outcome& outcome,
                                  const Identity& identity, const std::string& address,
                                  Poco::Net::HTTPServerRequest& request,
                                  Poco::Net::HTTPServerResponse& response) {
    if (outcome.hostStatus != 0) {
        if (outcome.hostStatus == HTTPResponse::HTTP_GATEWAY_TIMEOUT) {
            Poco::Logger::get("HttpFront").warning("No reply in time for " + request.getURI());
        }
        HttpErrors::send(response, outcome.hostStatus);
        return;
    }
    const Data::Message& reply = *outcome.reply;
    if (PluginCall::asksCredentials(context, reply, identity, address)) {
        ReplyWriter::write(reply, response);
        if (ReplyWriter::namesFile(reply))
            SendFileComplete::post(reply);
    } else if (ReplyWriter::namesFile(reply)) {
        FileSender(request, response).send(reply);
    } else {
        ReplyWriter::write(reply, response);
    }
}

bool PluginRequestHandler::isSmall(const PendingReplies::Outcome& outcome,
                                   const Poco::Net::HTTPServerRequest& request) {
    if (outcome.hostStatus != 0 || ReplyWriter::hasRealm(*outcome.reply))
        return true;
    if (!ReplyWriter::namesFile(*outcome.reply))
        return ReplyWriter::bodySize(*outcome.reply) <= kSmallAnswer;
    if (request.getMethod() == "HEAD")
        return true;
    struct stat info;
    return ::stat(ReplyWriter::fileOf(*outcome.reply).c_str(), &info) == 0 &&
           S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) <= kSmallAnswer;
}

}  // namespace Host
}  // namespace Orvane
