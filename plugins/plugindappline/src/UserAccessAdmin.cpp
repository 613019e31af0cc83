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

void DapplinePlugin::onGetUsersForShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getusersforshare", false, NOT_YET));
}

void DapplinePlugin::onGetAddUsersForShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getaddusersforshare", false, NOT_YET));
}

void DapplinePlugin::onGetUserAccessForShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getuseraccessforshare", false, NOT_YET));
}

void DapplinePlugin::onSetUserAccessForShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("setuseraccessforshare", false, NOT_YET));
}

void DapplinePlugin::onAddUserToShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("addusertoshare", false, NOT_YET));
}

void DapplinePlugin::onDeleteUserFromShare(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("deleteuserfromshare", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
