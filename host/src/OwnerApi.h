// The owner console's host endpoints below /ui/owner/api/: what the
// plug-in's operations do not cover (the host machine's folders for the
// share folder picker, the host's guest users). Every request must carry the
// owner's token or the `orvane_owner` cookie, else it is answered 401. One
// object per request.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include <string>

#include "FrontContext.h"

namespace Orvane {
namespace Host {

class OwnerApi : public Poco::Net::HTTPRequestHandler {
public:
    // endpoint: the path below /ui/owner/api/, decoded.
    OwnerApi(FrontContext& context, const std::string& endpoint);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    FrontContext& m_context;
    std::string m_endpoint;
};

}  // namespace Host
}  // namespace Orvane
