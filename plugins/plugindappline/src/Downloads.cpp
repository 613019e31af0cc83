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

void DapplinePlugin::sendChunkedFile(MessagePtr& msg, System::MessageDispatcher*,
                                     const std::string&, const std::string&, std::uint64_t, int,
                                     bool) {
    sendSyncHTTPResponse(msg, getErrorHTML(NOT_YET), 200);
}


void DapplinePlugin::onGetFile(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("GETFILE", false, NOT_YET));
}

void DapplinePlugin::onDownloadFile(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("downloadfile", false, NOT_YET));
}

void DapplinePlugin::onSendFileComplete(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("SEND_FILE_COMPLETE", false, NOT_YET));
}

void DapplinePlugin::getCurrentlyDownloadedFiles(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("getdownloadlist", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
