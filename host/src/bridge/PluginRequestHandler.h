// One HTTP request below /app/<plugin>/: posts it to the plug-in as a
// message, waits for the "SYNC" reply carrying its token and writes it out
// (or sends the file it names). Answers itself with 429 for a blocked
// client, 413 for a large body, 403 for a silent refusal or for the owner's
// cookie on a cross-site request, 504 when no reply comes in time. One
// object per request, on the server's thread.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include "bridge/RequestTranslator.h"
#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class PluginRequestHandler : public Poco::Net::HTTPRequestHandler {
public:
    PluginRequestHandler(FrontContext& context, const RequestParts& parts);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    bool admit(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    void forward(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);

    FrontContext& m_context;
    RequestParts m_parts;
    std::string m_address;
};

}  // namespace Host
}  // namespace Orvane
