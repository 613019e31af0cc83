// GET /url<code>: the host path registered for a short-link code, answered
// as a 302 redirect. Only paths on this host are followed. One object per
// request.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include <string>

namespace Orvane {
namespace Host {

class ShortLinkHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit ShortLinkHandler(const std::string& code);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

    // A local path ("/..." but not "//..."), without control characters.
    static bool isLocalPath(const std::string& path);

private:
    std::string m_code;
};

}  // namespace Host
}  // namespace Orvane
