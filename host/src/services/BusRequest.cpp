#include "services/BusRequest.h"

#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

bool BusRequest::isAllowed(const Data::Message& request) {
    const Data::VariantRow* row = request.findSection(GuestAccess::MS_GUESTACCESS);
    return row && row->getString(GuestAccess::S_ALLOW) == Defaults::TRUEVAL;
}

BusRequest::MessagePtr BusRequest::reply(const Data::Message& request, const std::string& sender,
                                         int status, const std::string& contentType) {
    MessagePtr reply =
        Util::MessageUtil::createNewMessage(Service::SYNCPROXYSERVICE, Sync::MO_SYNC);
    reply->sender = sender;
    const Data::VariantRow* sync = request.findSection(Sync::MS_SYNC);
    (*reply)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] =
        sync ? sync->getString(Sync::S_SYNC_TOKEN) : std::string();
    Util::MessageUtil::addHTTPResponse(reply, status, contentType);
    return reply;
}

}  // namespace Host
}  // namespace Orvane
