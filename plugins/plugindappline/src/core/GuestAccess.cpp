// Who a visitor is for one share, and which paths a visitor may touch.
// Runs on the deferred workers; every call reads the database afresh and the
// attempts tracker keeps its own lock.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Timestamp.h>
#include <list>

#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
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

std::string utcNowSortable() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp(),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::string requestField(const MessagePtr& msg, const char* field) {
    const Data::VariantRow* req = msg->findSection(HTTP::MS_HTTP_REQ);
    return req ? req->getString(field) : std::string();
}

bool hasRequestField(const MessagePtr& msg, const char* field) {
    const Data::VariantRow* req = msg->findSection(HTTP::MS_HTTP_REQ);
    return req && req->hasField(field);
}

// Ranged fetches holding "0-" (players and download managers coming back for
// a file) are not counted again.
bool isUncountedRange(const MessagePtr& msg) {
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
                          utcNowSortable(), userId, userName);
    db.addHistory(entry);
}

MessagePtr authorizationReply(const MessagePtr& request, const std::string& sender,
                              const std::string& page) {
    MessagePtr reply =
        Util::MessageUtil::createNewMessage(Defs::Service::SYNCPROXYSERVICE, Sync::MO_SYNC);
    reply->sender = sender;
    const Data::VariantRow* sync = request->findSection(Sync::MS_SYNC);
    (*reply)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] =
        sync ? sync->getString(Sync::S_SYNC_TOKEN) : std::string();
    reply->setRawData(page);
    Util::MessageUtil::addHTTPResponse(reply, 200, "text/html; charset=utf-8");
    (*reply)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_RESP_AUTHENTICATION_REALM] =
        getProductName() + " Dappline";
    return reply;
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
    if (m_dispatcher) {
        m_dispatcher->postMessage(
            authorizationReply(msg, m_name, getErrorHTML("Invalid Authorization to Access Page")));
    }
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
        if (!logDownload || isUncountedRange(msg))
            return true;
        DapplinePtr share = m_db->getShare(shareId);
        if (share) {
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
        if (logDownload && !isUncountedRange(msg)) {
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
    if (logDownload && !isUncountedRange(msg))
        addDownloadEntry(*m_db, share->shareId, path, guestId, msg->authUser);
    return true;
}

}  // namespace Dappline
}  // namespace Orvane
