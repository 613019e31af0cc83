// A front request's round trip through its plug-in: the message posted, the
// wait for the "SYNC" reply carrying its token, and what the handlers do
// alike with a reply that asks for credentials. Used on the request's own
// thread; what it touches in the front context is thread-safe.
#pragma once

#include <Poco/Net/HTTPServerResponse.h>

#include <boost/shared_ptr.hpp>
#include <string>

#include "auth/Authenticator.h"
#include "bridge/PendingReplies.h"
#include "front/FrontContext.h"
#include "orvane/Message.h"

namespace Orvane {
namespace Host {

class PluginCall {
public:
    // Posts `msg` to `plugin` and waits for the reply. Without one the
    // outcome holds the status the host answers with itself: 503 when the
    // message cannot be posted, else what the wait ended with.
    static PendingReplies::Outcome ask(FrontContext& context, const std::string& plugin,
                                       const boost::shared_ptr<Data::Message>& msg);
    // The first half of ask(): the slot its reply will end, or null when
    // the message could not be posted (the host answers 503).
    static PendingReplies::SlotPtr post(FrontContext& context, const std::string& plugin,
                                        const boost::shared_ptr<Data::Message>& msg);
    // True when the reply asks for credentials; any that the request did
    // send were wrong: they are logged and count against the client's
    // address and the name tried (RefusedCredentials).
    static bool asksCredentials(FrontContext& context, const Data::Message& reply,
                                const Identity& identity, const std::string& address);
    // Answers 429 to a client whose address is blocked for wrong
    // credentials for `seconds` more (what its body needs is done already).
    static void refuseBlocked(Poco::Net::HTTPServerResponse& response, int seconds);
};

}  // namespace Host
}  // namespace Orvane
