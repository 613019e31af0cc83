#include "front/HttpErrors.h"

#include "http/HeaderText.h"
#include "http/ResponseBody.h"

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
    ResponseBody::send(response, status, "text/html; charset=utf-8", "no-store", body);
}

bool HttpErrors::readOnly(const Poco::Net::HTTPServerRequest& request,
                          Poco::Net::HTTPServerResponse& response) {
    if (request.getMethod() == "GET" || request.getMethod() == "HEAD")
        return true;
    response.set("Allow", "GET, HEAD");
    send(response, Poco::Net::HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
    return false;
}

}  // namespace Host
}  // namespace Orvane
