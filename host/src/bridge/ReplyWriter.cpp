#include "bridge/ReplyWriter.h"

#include "http/HeaderText.h"
#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {

std::string responseField(const Data::Message& reply, const std::string& field) {
    const Data::VariantRow* resp = reply.findSection(HTTP::MS_HTTP_RESP);
    return resp ? resp->getString(field) : std::string();
}

}  // namespace

bool ReplyWriter::hasRealm(const Data::Message& reply) {
    const Data::VariantRow* resp = reply.findSection(HTTP::MS_HTTP_RESP);
    return resp && resp->hasField(HTTP::S_HTTP_RESP_AUTHENTICATION_REALM);
}

bool ReplyWriter::namesFile(const Data::Message& reply) {
    return !fileOf(reply).empty();
}

std::string ReplyWriter::fileOf(const Data::Message& reply) {
    return responseField(reply, HTTP::S_HTTP_SEND_FILE);
}

std::size_t ReplyWriter::bodySize(const Data::Message& reply) {
    const auto& raw = reply.getRawData();
    return raw ? raw->getTotalBytes() : 0;
}

int ReplyWriter::status(const Data::Message& reply) {
    int status = Util::MessageUtil::getHTTPStatus(reply);
    return status >= 200 && status <= 599 ? status : 500;
}

void ReplyWriter::applyHeaders(const Data::Message& reply,
                               Poco::Net::HTTPServerResponse& response) {
    std::string type = HeaderText::clean(responseField(reply, HTTP::S_HTTP_RESP_TYPE));
    response.setContentType(type.empty() ? "application/octet-stream" : type);
    const std::string cache =
        HeaderText::clean(responseField(reply, HTTP::S_HTTP_SET_CACHE_CONTROL));
    if (!cache.empty())
        response.set("Cache-Control", cache);
    const std::string disposition = responseField(reply, HTTP::S_HTTP_CONTENT_DISPOSITION);
    if (!disposition.empty()) {
        response.set("Content-Disposition", HeaderText::contentDisposition(disposition));
    }
    response.set("X-Content-Type-Options", "nosniff");
}

void ReplyWriter::write(const Data::Message& reply, Poco::Net::HTTPServerResponse& response) {
    applyHeaders(reply, response);
    int code = status(reply);
    if (hasRealm(reply)) {
        code = Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED;
        response.set("WWW-Authenticate", HeaderText::basicChallenge(responseField(
                                             reply, HTTP::S_HTTP_RESP_AUTHENTICATION_REALM)));
        // A challenge must not be kept by caches and shown to someone else.
        response.set("Cache-Control", "no-store");
    }
    response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(code));
    const auto& raw = reply.getRawData();
    const char* bytes = raw ? raw->getRawData() : "";
    const std::size_t length = raw ? raw->getTotalBytes() : 0;
    response.setContentLength64(static_cast<Poco::UInt64>(length));
    response.sendBuffer(bytes, length);
}

void ReplyWriter::sendRefusal(const Data::Message& reply, Poco::Net::HTTPServerResponse& response) {
    const int code = status(reply);
    response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(
        code >= 400 ? code : static_cast<int>(Poco::Net::HTTPResponse::HTTP_FORBIDDEN)));
    const auto& raw = reply.getRawData();
    const std::size_t length = raw ? raw->getTotalBytes() : 0;
    response.setContentLength64(static_cast<Poco::UInt64>(length));
    response.sendBuffer(raw ? raw->getRawData() : "", length);
}

}  // namespace Host
}  // namespace Orvane
