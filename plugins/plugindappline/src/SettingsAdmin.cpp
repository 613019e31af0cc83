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

void DapplinePlugin::onGetHistory(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("gethistory", false, NOT_YET));
}

void DapplinePlugin::onClearHistory(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("clearhistory", false, NOT_YET));
}

void DapplinePlugin::onGetStatus(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getstatus", false, NOT_YET));
}

void DapplinePlugin::onGetSharedFolderSize(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getsharedfoldersize", false, NOT_YET));
}

void DapplinePlugin::onShowGS(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("showgs", false, NOT_YET));
}

void DapplinePlugin::onSetShowGS(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("setshowgs", false, NOT_YET));
}

void DapplinePlugin::onGetCustomHeader(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getcustomheader", false, NOT_YET));
}

void DapplinePlugin::onSetCustomHeader(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("setcustomheader", false, NOT_YET));
}

void DapplinePlugin::onSetAllowPublicAccess(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("setallowpublicaccess", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
