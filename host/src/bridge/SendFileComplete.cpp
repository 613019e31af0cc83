#include "bridge/SendFileComplete.h"

#include <Poco/Logger.h>

#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/MessageUtil.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

void SendFileComplete::post(const Data::Message& reply) {
    const Data::VariantRow* resp = reply.findSection(HTTP::MS_HTTP_RESP);
    const std::string service =
        resp ? resp->getString(Sync::S_SEND_FILE_COMPLETE_SERVICE) : std::string();
    if (service.empty())
        return;
    const Data::VariantRow* sync = reply.findSection(Sync::MS_SYNC);
    const std::string token = sync ? sync->getString(Sync::S_SYNC_TOKEN) : std::string();

    auto msg = Util::MessageUtil::createNewMessage(service, Sync::MO_SEND_FILE_COMPLETE);
    msg->sender = Service::SYNCPROXYSERVICE;
    msg->setAuthKey(Data::AuthKey(Data::AuthKey::SOURCE_WEB, Data::AuthKey::ROLE_OWNER,
                                  Data::AuthKey::LOCATION_HOST, ""));
    (*msg)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = token;
    (*msg)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_SEND_FILE] = resp->getString(HTTP::S_HTTP_SEND_FILE);
    if (!Orvane::Dispatcher()->postMessage(msg)) {
        Poco::Logger::get("SyncProxyService")
            .warning("Nobody took SEND_FILE_COMPLETE for " + token + " (" + service + ")");
    }
}

}  // namespace Host
}  // namespace Orvane
