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

void DapplinePlugin::onClearCache(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("clearcache", false, NOT_YET));
}

void DapplinePlugin::onStartCaching(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("startcaching", false, NOT_YET));
}

void DapplinePlugin::onCancelCaching(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("cancelcaching", false, NOT_YET));
}

void DapplinePlugin::onImagePreCache(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("imageprecache", false, NOT_YET));
}

void DapplinePlugin::onGetCachingStatus(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getcachestatus", false, NOT_YET));
}

void DapplinePlugin::onCancelSync(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("CANCELSYNC", false, NOT_YET));
}

void DapplinePlugin::onGetFSThumbImage(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getfsthumbimage", false, NOT_YET));
}

void DapplinePlugin::onGetFolderJpg(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getfolder.jpg", false, NOT_YET));
}

void DapplinePlugin::onGetVideoCaps(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getvideocaps", false, NOT_YET));
}

void DapplinePlugin::onGetMetaDataInfo(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getmetadatainfo", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
