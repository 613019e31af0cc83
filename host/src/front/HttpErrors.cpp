#include "front/HttpErrors.h"

#include "http/HeaderText.h"

namespace Orvane {
namespace Host {

std::string HttpErrors::reason(int status) {
    return Poco::Net::HTTPResponse::getReasonForStatus(
        static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status));
}

void HttpErrors::send(Poco::Net::HTTPServerResponse& response, int status,
                      const std::string& detail) {
    const std::string title = std::to_string(status) + " " + reason(status);
    std::string body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" +
                       HeaderText::html(title) + "</title></head><body><h1>" +
                       HeaderText::html(title) + "</h1>";
    if (!detail.empty())
        body += "<p>" + HeaderText::html(detail) + "</p>";
    body += "</body></html>\n";
    response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status));
    response.setContentType("text/html; charset=utf-8");
    response.set("Cache-Control", "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.setContentLength(static_cast<std::streamsize>(body.size()));
    response.sendBuffer(body.data(), body.size());
}

}  // namespace Host
}  // namespace Orvane
