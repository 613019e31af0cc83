#include "bridge/PluginCall.h"

#include <Poco/Net/HTTPResponse.h>

#include "auth/RefusedCredentials.h"
#include "bridge/ReplyWriter.h"
#include "front/HttpErrors.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"

namespace Orvane {
namespace Host {

PendingReplies::SlotPtr PluginCall::post(FrontContext& context, const std::string& plugin,
                                         const boost::shared_ptr<Data::Message>& msg) {
    const std::string token = (*msg)[Defs::Sync::MS_SYNC][Defs::Sync::S_SYNC_TOKEN].getString();
    auto slot = context.pending.open(token, plugin);
    if (slot && !Orvane::Dispatcher()->postMessage(msg)) {
        context.pending.close(slot);
        slot.reset();
    }
    return slot;
}

PendingReplies::Outcome PluginCall::ask(FrontContext& context, const std::string& plugin,
                                        const boost::shared_ptr<Data::Message>& msg) {
    auto slot = post(context, plugin, msg);
    if (!slot) {
        PendingReplies::Outcome refused;
        refused.hostStatus = Poco::Net::HTTPResponse::HTTP_SERVICE_UNAVAILABLE;
        return refused;
    }
    return context.pending.wait(slot, context.replyTimeout);
}

bool PluginCall::asksCredentials(FrontContext& context, const Data::Message& reply,
                                 const Identity& identity, const std::string& address) {
    if (!ReplyWriter::hasRealm(reply))
        return false;
    if (identity.hasCredentials) {
        RefusedCredentials::record(context, RefusedCredentials::BASIC, address,
                                   RefusedCredentials::nameOf(identity.credentials));
    }
    return true;
}

void PluginCall::refuseBlocked(Poco::Net::HTTPServerResponse& response, int seconds) {
    response.set("Retry-After", std::to_string(seconds));
    HttpErrors::send(response, Poco::Net::HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                     "Too many wrong credentials from your address. Try again later.");
}

}  // namespace Host
}  // namespace Orvane
