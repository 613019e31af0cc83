// The host's own pages from its www folder: "/" (pointing at the guest
// sign-in), the shared style, and the page areas /ui/core/ (the explorer),
// /ui/guest/, /ui/owner/ and /ui/common/, each a flat folder of www/ with
// plain file names only, so no request can name a file outside them. One
// object per request.
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
