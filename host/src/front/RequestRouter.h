// Picks the handler for each HTTP request by its decoded path: the plug-ins
// below /app/<name>/, short links /url<code>, the sign-in forms, the host's
// own pages; 400 for an undecodable path, 404 for the rest. Called by the
// server's threads; holds no state of its own.
#pragma once

#include <Poco/Net/HTTPRequestHandlerFactory.h>

#include "front/FrontContext.h"

namespace Orvane {
namespace Host {

class RequestRouter : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit RequestRouter(FrontContext& context);

    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest& request) override;

private:
    Poco::Net::HTTPRequestHandler* pluginHandler(const Poco::Net::HTTPServerRequest& request,
                                                 const std::string& path, const std::string& raw,
                                                 const std::string& query);
    Poco::Net::HTTPRequestHandler* hostHandler(const std::string& path);

    FrontContext& m_context;
};

}  // namespace Host
}  // namespace Orvane
