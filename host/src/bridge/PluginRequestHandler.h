// One HTTP request below /app/<plugin>/: posts it to the plug-in as a
// message and, on the host's own front, leaves the answer for later: the
// "SYNC" reply carrying its token is written out (or the file it names
// sent) when it comes, without a thread waiting for it. Answers itself
// with 429 for a blocked client, 413 for a large body, 403 for a silent
// refusal or for the owner's cookie on a cross-site request, 504 when no
// reply comes in time. One object per request, on the server's thread;
// the answer may be written on another.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>

#include <cstdint>

#include "bridge/RequestTranslator.h"
#include "front/FrontContext.h"
#include "net/QuickHandler.h"

namespace Orvane {
namespace Host {

class PluginRequestHandler : public Poco::Net::HTTPRequestHandler, public QuickHandler {
public:
    PluginRequestHandler(FrontContext& context, const RequestParts& parts);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

    // Up to this, an answer is written by the thread its reply reached.
    static const std::uint64_t kSmallAnswer = 16 * 1024;

private:
    static void answer(FrontContext& context, const PendingReplies::Outcome& outcome,
                       const Identity& identity, const std::string& address,
                       Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response);
    static bool isSmall(const PendingReplies::Outcome& outcome,
                        const Poco::Net::HTTPServerRequest& request);
    bool admit(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    void forward(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);

    FrontContext& m_context;
    RequestParts m_parts;
    std::string m_address;
};

}  // namespace Host
}  // namespace Orvane
