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

int DapplinePlugin::getShareUserID(boost::shared_ptr<Dappline> share, MessagePtr& msg) {
    sendSyncHTTPResponse(msg, getErrorHTML(NOT_YET), 200);
    return -1;
}

bool DapplinePlugin::doesGuestHaveAccess(MessagePtr& msg, std::string path, bool& writeAccess,
                                         std::string& sharePath, bool logDownload,
                                         std::int64_t& sizeLimitBytes) {
    writeAccess = false;
    sizeLimitBytes = 0;
    return false;
}

}  // namespace Dappline
}  // namespace Orvane
