#include "bridge/SyncProxyService.h"

#include <Poco/Logger.h>

#include "bridge/SendFileComplete.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {

std::string tokenOf(const Data::Message& msg) {
    const Data::VariantRow* sync = msg.findSection(Sync::MS_SYNC);
    return sync ? sync->getString(Sync::S_SYNC_TOKEN) : std::string();
}

bool namesFile(const Data::Message& msg) {
    const Data::VariantRow* resp = msg.findSection(HTTP::MS_HTTP_RESP);
    return resp && !resp->getString(HTTP::S_HTTP_SEND_FILE).empty();
}

}  // namespace

SyncProxyService::SyncProxyService(PendingReplies& pending)
    : m_pending(pending), m_registration(Service::SYNCPROXYSERVICE) {}

SyncProxyService::~SyncProxyService() {
    stop();
}

void SyncProxyService::start() {
    m_registration.start([this](MessagePtr& msg) { onMessage(msg); });
    Orvane::setDeferredDeliveryHook([this](const MessagePtr& msg) { afterDeferredDelivery(msg); });
}

void SyncProxyService::stop() {
    if (!m_registration.started())
        return;
    Orvane::setDeferredDeliveryHook(System::MessageDispatcher::DeliveryHook());
    m_registration.stop();
}

void SyncProxyService::onMessage(MessagePtr& msg) {
    if (!msg || msg->operation != Sync::MO_SYNC)
        return;
    const std::string token = tokenOf(*msg);
    if (m_pending.deliver(token, msg))
        return;
    Poco::Logger::get("SyncProxyService").debug("Late or unknown reply for token " + token);
    // Nobody will send this file; let its owner close the transfer it opened.
    if (namesFile(*msg))
        SendFileComplete::post(*msg);
}

void SyncProxyService::afterDeferredDelivery(const MessagePtr& msg) {
    const std::string token = msg ? tokenOf(*msg) : std::string();
    // Still aimed at the service it was posted to: the handler neither
    // answered nor forwarded it, which is how a plug-in refuses silently.
    if (!token.empty() && m_pending.answer(token, msg->target, 403)) {
        Poco::Logger::get("SyncProxyService")
            .debug("No answer from " + msg->target + " to " + msg->operation + ": 403");
    }
    // The answers this delivery released are written now, on this worker.
    PendingReplies::runReleased();
}

}  // namespace Host
}  // namespace Orvane
