// Answers a plain HTTP request with 308 to the same address over HTTPS:
// the --redirect-http-port listener, and plain HTTP that reached the TLS
// port. The target is the public URL when it is https, else the host the
// client asked for on the TLS port. One per request, on a worker.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include <string>

namespace Orvane {
namespace Host {

class HttpsRedirect : public Poco::Net::HTTPRequestHandler {
public:
    // `publicUrl`: host.properties' public.url (used when it is https).
    HttpsRedirect(int tlsPort, const std::string& publicUrl, bool close);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

    // https://<host>[:port]<target>.
    std::string location(const Poco::Net::HTTPServerRequest& request) const;

private:
    int m_tlsPort;
    std::string m_publicUrl;
    bool m_close;
};

}  // namespace Host
}  // namespace Orvane
