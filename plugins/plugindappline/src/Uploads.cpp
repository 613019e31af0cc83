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

void DapplinePlugin::sendSyncHTTPUploadResponse(MessagePtr& request, const std::string& body,
                                                bool, const std::string&) {
    sendSyncHTTPResponse(request, body, 403);
}

std::int64_t DapplinePlugin::getSharedFolderSize(std::string) {
    throw Orvane::Exception("Folder sizes are not available yet");
}


void DapplinePlugin::onStartUpload(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("START_UPLOAD", false, NOT_YET));
}

void DapplinePlugin::onFinishUpload(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("FINISH_UPLOAD", false, NOT_YET));
}

void DapplinePlugin::onStartGuestUpload(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("START_GUEST_UPLOAD", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
