#include "front/ErrorHandler.h"

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include "front/HttpErrors.h"
#include "http/RequestBody.h"

namespace Orvane {
namespace Host {

ErrorHandler::ErrorHandler(int status, const std::string& detail, const std::string& location)
    : m_status(status), m_detail(detail), m_location(location) {}

void ErrorHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                 Poco::Net::HTTPServerResponse& response) {
    if (RequestBody::announcesBody(request))
        response.setKeepAlive(false);
    if (!m_location.empty())
        response.set("Location", m_location);
    HttpErrors::send(response, m_status, m_detail);
}

}  // namespace Host
}  // namespace Orvane
