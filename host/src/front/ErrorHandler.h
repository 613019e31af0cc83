// Answers a request with one of the host's short error pages (the router's
// 400 for an undecodable path, 404 for an unknown one, redirects to a
// slash). One object per request.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include <string>

namespace Orvane {
namespace Host {

class ErrorHandler : public Poco::Net::HTTPRequestHandler {
public:
    ErrorHandler(int status, const std::string& detail, const std::string& location = "");

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    int m_status;
    std::string m_detail;
    std::string m_location;
};

}  // namespace Host
}  // namespace Orvane
