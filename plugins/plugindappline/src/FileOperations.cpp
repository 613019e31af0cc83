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

void DapplinePlugin::onCreateFolder(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("createfolder", false, NOT_YET));
}

void DapplinePlugin::onRenameFile(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("renamefile", false, NOT_YET));
}

void DapplinePlugin::onDeleteFile(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("deletefile", false, NOT_YET));
}

void DapplinePlugin::onCopyFile(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("copyfile", false, NOT_YET));
}

void DapplinePlugin::onRenameOrMove(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("renameormove", false, NOT_YET));
}

void DapplinePlugin::onFileExists(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("fileexists", false, NOT_YET));
}

void DapplinePlugin::onSplitFilePaths(const void*, MessagePtr& msg) {
    sendSyncResponse(msg, Util::HTTP::getXMLResult("splitfilepaths", false, NOT_YET));
}

}  // namespace Dappline
}  // namespace Orvane
