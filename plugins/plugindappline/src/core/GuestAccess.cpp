// Who a visitor is for one share, and which paths a visitor may touch.
// Runs on the deferred workers; every call reads the database afresh and the
// attempts tracker keeps its own lock.
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <list>

#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"
#include "orvane/PoManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"
#include "store/DapplineHistory.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;

// Ranged fetches holding "0-" (players and download managers coming back for
// a file) are not counted again, and a HEAD transfers nothing: a client
// asking for headers in a loop must not fill the history.
bool isUncounted(const MessagePtr& msg) {
    if (requestField(msg, HTTP::S_HTTP_REQ_METHOD) == "HEAD")
        return true;
    return hasRequestField(msg, HTTP::S_HTTP_REQ_RANGE) &&
           requestField(msg, HTTP::S_HTTP_REQ_RANGE).find("0-") != std::string::npos;
}

// Writes a download entry when path names a file (folders are not counted).
void addDownloadEntry(DapplineDB& db, int shareId, const std::string& path, int userId,
                      const std::string& userName) {
    Poco::File file(path);
    if (!file.exists() || file.isDirectory())
        return;
    DapplineHistory entry(shareId, path, static_cast<std::int64_t>(file.getSize()),
                          DapplineHistory::now(), userId, userName);
    db.addHistory(entry);
}

enum class Reading { Refused, Hidden, Allowed };

// Whether the visitor may read path. Hidden entries of a share are private
// to readers in the explorer and its downloads, whatever their rights:
// writing guests reach them over WebDAV only. A hidden path is not counted
// as a download, so the download is logged only once it is known to pass.
Reading readingOf(DapplinePlugin& plugin, MessagePtr& msg, const std::string& path,
                  bool logDownload) {
    bool writeAccess = false;
    std::string sharePath;
    std::int64_t sizeLimit = 0;
    if (!plugin.doesGuestHaveAccess(msg, path, writeAccess, sharePath, false, sizeLimit))
        return Reading::Refused;
    if (Util::isHiddenBelow(Util::convertPathToNative(path), sharePath))
        return Reading::Hidden;
    if (logDownload)
        plugin.doesGuestHaveAccess(msg, path, writeAccess, sharePath, true, sizeLimit);
    return Reading::Allowed;
}

}  // namespace

int DapplinePlugin::getShareUserID(boost::shared_ptr<Dappline> share, MessagePtr& msg) {
    if (msg->authRole == Data::AuthKey::ROLE_GUEST) {
        const int guestId = API::GuestUserManager::getGuestUserID(msg->authUser);
        if (guestId != -1 && m_db->checkCredentials(share->shareId, guestId))
            return guestId;
    }
    const bool hasCredentials = hasRequestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO);
    int userId = -1;
    if (hasCredentials &&
        m_db->checkCredentials(share->shareId, requestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO),
                               userId)) {
        return userId;
    }
    if (m_dispatcher)
        m_dispatcher->postMessage(authChallenge(msg, "Invalid Authorization to Access Page"));
    // Only a wrong answer counts: a browser asks without credentials first.
    if (hasCredentials)
        m_attemptsTracker.addAttempt();
    return -1;
}

bool DapplinePlugin::doesGuestHaveAccess(MessagePtr& msg, std::string path, bool& writeAccess,
                                         std::string& sharePath, bool logDownload,
                                         std::int64_t& sizeLimitBytes) {
    sizeLimitBytes = 0;
    const std::string nativePath = Util::convertPathToNative(path);
    if (msg->authRole == Data::AuthKey::ROLE_ANONYMOUS) {
        writeAccess = false;
        int shareId = -1;
        if (!m_db->isLocationSharedPublic(nativePath, shareId))
            return false;
        DapplinePtr share = m_db->getShare(shareId);
        if (share)
            sharePath = share->shareLocation;
        if (share && logDownload && !isUncounted(msg)) {
            addDownloadEntry(*m_db, share->shareId, path, -1,
                             PoManager().getTranslation("Anonymous"));
        }
        return true;
    }

    const int guestId = API::GuestUserManager::getGuestUserID(msg->authUser);
    if (guestId == -1)
        return false;
    std::list<int> shareIds;
    m_db->getSharesForUser(guestId, shareIds);
    Poco::Logger& log = Poco::Logger::get("Dapplinepro");
    for (int shareId : shareIds) {
        DapplinePtr share = m_db->getShare(shareId);
        if (!share || share->isExpired())
            continue;
        const std::string location = Util::convertPathToNative(share->shareLocation);
        log.trace("doesGuestHaveAccess checking " + nativePath + " == " + location);
        // Whole components: a share of /a/b does not reach /a/bc; nor does a
        // link in the share that leads out of it.
        if (!Util::isPathWithinResolved(nativePath, location))
            continue;
        writeAccess = m_db->hasWriteAccessForShare(guestId, share->shareId);
        if (logDownload && !isUncounted(msg)) {
            addDownloadEntry(*m_db, share->shareId, path, guestId, msg->authUser);
        }
        sharePath = share->shareLocation;
        sizeLimitBytes = share->shareSizeLimit * 1024;
        return true;
    }
    // A signed-in guest keeps what every anonymous visitor has: public
    // shares, read-only. Without this, signing in would lock a guest out of
    // the public links the owner handed out.
    int publicId = -1;
    if (!m_db->isLocationSharedPublic(nativePath, publicId))
        return false;
    DapplinePtr share = m_db->getShare(publicId);
    if (!share)
        return false;
    writeAccess = false;
    sharePath = share->shareLocation;
    if (logDownload && !isUncounted(msg))
        addDownloadEntry(*m_db, share->shareId, path, guestId, msg->authUser);
    return true;
}

bool DapplinePlugin::mayAccess(MessagePtr& msg, const std::string& path, bool logDownload) {
    return readingOf(*this, msg, path, logDownload) == Reading::Allowed;
}

bool DapplinePlugin::passToUserManager(MessagePtr& msg, const std::string& path, bool logDownload) {
    const Reading reading = readingOf(*this, msg, path, logDownload);
    if (reading == Reading::Hidden) {
        // The user manager's own answer for a file that is not there.
        MessagePtr answer = syncAnswer(msg);
        answer->sender = m_name;
        answer->setRawData("Not Found");
        Util::MessageUtil::addHTTPResponse(answer, 404, "text/plain; charset=utf-8");
        post(answer);
    }
    if (reading != Reading::Allowed)
        return false;
    (*msg)[GuestAccess::MS_GUESTACCESS][GuestAccess::S_ALLOW] = 1;
    msg->target = Defs::Service::BOOTUSERMANAGER;
    if (m_dispatcher)
        m_dispatcher->postMessage(msg);
    return true;
}

}  // namespace Dappline
}  // namespace Orvane
