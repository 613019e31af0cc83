// Placeholder: this area is not built yet. Every entry answers the failure
// result of its operation (or the error page), so nothing pretends to work.
#include "DapplinePlugin.h"

#include "orvane/Exception.h"
#include "orvane/HTTPUtil.h"

namespace Orvane {
namespace Dappline {

namespace {
const char* const NOT_YET = "This feature is not available yet";
}

void DapplinePlugin::onGetShares(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getshares", false, NOT_YET));
}

void DapplinePlugin::onGetSharesForFilter(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getsharesfilter", false, NOT_YET));
}

void DapplinePlugin::onGetGuestShares(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getguestshares", false, NOT_YET));
}

void DapplinePlugin::onAddShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("addshare", false, NOT_YET));
}

void DapplinePlugin::onUpdateShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("updateshare", false, NOT_YET));
}

void DapplinePlugin::onDeleteShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("deleteshare", false, NOT_YET));
}

void DapplinePlugin::onQuickShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("quickshare", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
