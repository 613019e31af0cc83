// Everything a visitor's browser asks for below a share's address: the
// folder pages, single files, gallery images and folder zips. Runs on the
// deferred workers; each request reads the share afresh.
#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Path.h>
#include <sys/stat.h>

#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "orvane/PoManager.h"
#include "orvane/Util.h"
#include "pages/PagePieces.h"
#include "pages/ShareAddress.h"
#include "store/DapplineDB.h"
#include "store/DapplineHistory.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;

// What one share request resolved to.
struct ShareRequest {
    std::string shareName;
    std::string subPath;
    DapplinePtr share;
    int userId = -1;
    bool writeAccess = false;
    std::string path;  // native
};

std::string slashPage(const std::string& fullURL) {
    const std::string product = Page::escapeHTML(getProductName());
    const std::string spaces37(37, ' ');
    const std::string spaces38(38, ' ');
    return "<html><head><title>" + product + " - Dappline</title></head>" + spaces37 +
           "<body><h1>" + product + " Dappline</h1>" + spaces37 +
           "It appears your URL is missing a '/' at the end.<br />" + spaces38 + "<a href=\"" +
           Page::escapeHTML(fullURL) + "/\" >Click here to Continue</a>" + spaces38 +
           "</body></html>";
}

std::string guestNameOf(int userId) {
    if (userId == -1)
        return std::string();
    boost::shared_ptr<Data::GuestUser> user = API::GuestUserManager::guestUserGet(userId);
    return user ? user->getName() : std::string();
}

void addHistoryEntry(DapplineDB& db, const ShareRequest& req, std::int64_t size) {
    const std::string guestName = guestNameOf(req.userId);
    const bool known = req.userId != -1 && !guestName.empty();
    DapplineHistory entry(req.share->shareId, req.path, size, DapplineHistory::now(),
                          known ? req.userId : -1,
                          known ? guestName : PoManager().getTranslation("Anonymous"));
    db.addHistory(entry);
}

// The page kind: the query's vm, else the share's view mode.
std::string folderPage(DapplinePlugin& plugin, const Poco::Net::HTMLForm& form,
                       const ShareRequest& req) {
    std::string vm = form.get("vm", "");
    if (vm != "list" && vm != "gallery" && vm != "music")
        vm.clear();
    const std::string am = form.get("am", "share");
    const std::string guestName = guestNameOf(req.userId);
    const bool inSubfolder = !req.subPath.empty();
    const std::string& mode = req.share->viewMode;
    if (vm == "gallery" || (vm.empty() && mode == "GALLERY")) {
        return plugin.getThumbList(req.path, inSubfolder, req.shareName, req.subPath,
                                   req.share->viewSize, req.share->thumbSize, req.writeAccess,
                                   guestName, am);
    }
    if (vm == "music" || (vm.empty() && mode == "MUSIC")) {
        return plugin.getMusicList(req.path, inSubfolder, req.shareName, req.subPath,
                                   req.writeAccess, guestName, am);
    }
    return plugin.getFileList(req.path, inSubfolder, req.shareName, req.subPath, req.writeAccess,
                              guestName, am);
}

void answerFolder(DapplinePlugin& plugin, MessagePtr& msg, const Poco::Net::HTMLForm& form,
                  const ShareRequest& req) {
    const std::string fullURL = requestField(msg, HTTP::S_HTTP_REQ_URL);
    if (fullURL.empty()) {
        plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML(""), 200);
    } else if (fullURL.back() != '/') {
        plugin.sendSyncHTTPResponse(msg, slashPage(fullURL), 200);
    } else {
        plugin.sendSyncHTTPResponse(msg, folderPage(plugin, form, req), 200);
    }
}

void answerFile(DapplinePlugin& plugin, MessagePtr& msg, const ShareRequest& req,
                std::uint64_t size) {
    // What the host's filters refuse gets no answer; such a file was not
    // downloaded and gets no history entry. Its path passed isAllowedPath
    // in resolveShare (within isAllowedPathWithin): only the file's own
    // filter is left.
    if (!Util::isAllowedFile(req.path))
        return;
    plugin.sendAllowedFile(msg, plugin.dispatcher(), req.path, Poco::Path(req.path).getFileName(),
                           size, req.userId, false);
    addHistoryEntry(*plugin.database(), req, static_cast<std::int64_t>(size));
}

// Address, share, expiry and visitor; false once the request is answered.
bool resolveShare(DapplinePlugin& plugin, MessagePtr& msg, ShareRequest& req) {
    DapplineDB& db = *plugin.database();
    if (!splitShareAddress(msg->operation, req.shareName, req.subPath) ||
        !(req.share = db.getShareByName(req.shareName))) {
        plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML(""), 200);
        return false;
    }
    if (req.share->isExpired()) {
        plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML("Folder Share Time Period Expired!"),
                                    200);
        return false;
    }
    if (req.share->allowPublicAccess == 0) {
        req.userId = plugin.getShareUserID(req.share, msg);
        if (req.userId == -1)
            return false;
        req.writeAccess = db.hasWriteAccessForShare(req.userId, req.share->shareId);
    }
    std::string path = req.share->shareLocation;
    if (!req.subPath.empty())
        path += "/" + req.subPath;
    req.path = Util::convertPathToNative(path);
    // A link in the shared folder that leads out of it is as good as absent,
    // so is the profile in a share that holds it, and so is a hidden entry
    // (".git/config", "sub/.env"): telling "there but forbidden" would give
    // its presence away. A guest who may write reaches hidden entries by
    // their address, as WebDAV clients read back the metadata files they
    // keep; no page ever lists them.
    if (!Util::isAllowedPathWithin(req.path, req.share->shareLocation) ||
        (!req.writeAccess && Util::isHiddenBelow(req.path, req.share->shareLocation))) {
        plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML(""), 404);
        return false;
    }
    return true;
}

void handleShareRequest(DapplinePlugin& plugin, const void* sender, MessagePtr& msg) {
    const Data::VariantRow* section = msg->findSection(HTTP::MS_HTTP_REQ);
    if (section && section->hasField(HTTP::S_HTTP_REQ_WEBDAV_OPERATION)) {
        plugin.onStartWebDAVReq(sender, msg);
        return;
    }
    if (msg->authSource < 70) {
        Poco::Logger::get("Dapplinepro").error("Authentication Failed.");
        plugin.sendSyncResponse(msg,
                                Util::HTTP::getXMLResult("Authentication Failed", false,
                                                         PoManager().getTranslation("Bad Source")));
        return;
    }
    if (msg->operation == "share" || msg->operation == "share/") {
        plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML(""), 200);
        return;
    }
    Poco::Net::HTMLForm form;
    loadQueryForm(msg, form);
    ShareRequest req;
    if (!resolveShare(plugin, msg, req))
        return;
    for (const char* step : {"startzip", "zipstatus", "downloadaszip"}) {
        if (form.has(step)) {
            plugin.handleZipStep(msg, step, form, req.path, req.share->shareId, req.userId);
            return;
        }
    }
    // One look at the target for its being there, its kind and its size.
    struct stat target;
    if (::stat(req.path.c_str(), &target) != 0) {
        plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML(""), 404);
    } else if (S_ISDIR(target.st_mode)) {
        answerFolder(plugin, msg, form, req);
    } else if (form.has("viewsize") || form.has("thumbsize")) {
        plugin.sendImageReply(msg, req.path, form, req.share->shareId, req.share->thumbSize,
                              req.share->viewSize, req.userId);
    } else {
        answerFile(plugin, msg, req, static_cast<std::uint64_t>(target.st_size));
    }
}

}  // namespace

void DapplinePlugin::onGetShare(const void* sender, MessagePtr& msg) {
    try {
        handleShareRequest(*this, sender, msg);
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("Dapplinepro").error(e.displayText());
        sendSyncHTTPResponse(msg, getErrorHTML(""), 200);
    } catch (...) {
        Poco::Logger::get("Dapplinepro").error("Unknown Exception in GetShare");
        sendSyncHTTPResponse(msg, getErrorHTML(""), 200);
    }
}

}  // namespace Dappline
}  // namespace Orvane
