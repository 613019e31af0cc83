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

void DapplinePlugin::onSendShareToEmail(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("sendsharetoemail", false, NOT_YET));
}

void DapplinePlugin::onGetURLForEmail(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("geturlforemail", false, NOT_YET));
}

void DapplinePlugin::onGetPrivateURLForEmail(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getprivateurlforemail", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
