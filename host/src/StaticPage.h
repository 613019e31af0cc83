// The host's own pages from its www folder: "/" (pointing at the guest
// sign-in) and the guest sign-in page with its script and style. A fixed
// list, so no request can name another file. One object per request.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include <string>

namespace Orvane {
namespace Host {

class StaticPage : public Poco::Net::HTTPRequestHandler {
public:
    StaticPage(const std::string& wwwDir, const std::string& file);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

    // The file of the www folder that serves a decoded path; "" for none.
    static std::string fileFor(const std::string& path);

private:
    static std::string contentType(const std::string& file);

    std::string m_wwwDir;
    std::string m_file;
};

}  // namespace Host
}  // namespace Orvane
