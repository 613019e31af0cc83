// What a visitor may see of the shares in the host's file explorer: the
// entries of one folder or the visitor's share roots ("getfilelist"), and the
// sub-folders for the folder tree ("getdirectorylist"). A signed-in guest sees
// the shares he holds a permission on, an anonymous visitor the public ones;
// every other caller gets no answer. The host formats the folder entries.
// Handlers run on the deferred workers and read the database afresh.
#include <Poco/Exception.h>
#include <Poco/Net/HTMLForm.h>
#include <list>

#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/GuestUserManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const FILE_LIST_FAIL = "<filelistfail></filelistfail>";
const char* const NO_DIRECTORIES = "<directories></directories>";
const char* const ROOTS_META = "<meta><parentpath></parentpath><isroot>1</isroot></meta>";

// Only the lister's known filters pass; anything else lists everything.
std::string filterParam(const Poco::Net::HTMLForm& form) {
    const std::string filter = form.get("filter", "");
    return filter == "audio" || filter == "pictures" || filter == "usbdrives" ? filter : "";
}

struct ListRequest {
    int start = 0;
    int limit = -1;
    std::string filter;
    std::string search;
    std::string path;
};

// Throws Poco::NotFoundException without "path".
ListRequest readListRequest(const MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadBodyForm(msg, form);
    ListRequest list;
    list.start = intParam(form, "start", 0);
    list.limit = intParam(form, "limit", -1);
    list.filter = filterParam(form);
    list.search = form.get("search", "");
    list.path = Util::convertPathToNative(form.get("path"));
    return list;
}

// Links in the share that lead out of it are not the visitor's to see, nor
// is anything hidden: the lister leaves hidden entries out, and a folder
// inside a hidden one is not listed at all, whatever the visitor's rights.
std::string listFolder(const ListRequest& list, const std::string& shareFolder, bool writable) {
    if (Util::isHiddenBelow(list.path, shareFolder))
        return FILE_LIST_FAIL;
    return Util::getFileListXMLWithin(shareFolder, list.path, list.start, list.limit, list.filter,
                                      list.search, 0, 0, writable ? 1 : 0, 0, false);
}

std::string anonymousFileList(DapplineDB& db, const ListRequest& list) {
    int shareId = -1;
    if (list.path.empty() || !db.isLocationSharedPublic(list.path, shareId))
        return FILE_LIST_FAIL;
    DapplinePtr share = db.getShare(shareId);
    if (!share)
        return FILE_LIST_FAIL;
    return listFolder(list, share->shareLocation, false);
}

std::list<int> sharesOf(DapplineDB& db, int userId) {
    std::list<int> shareIds;
    db.getSharesForUser(userId, shareIds);
    return shareIds;
}

// The first live share of the guest's that holds path; null when none does.
DapplinePtr grantingShare(DapplineDB& db, const std::list<int>& shareIds, const std::string& path) {
    for (int shareId : shareIds) {
        DapplinePtr share = db.getShare(shareId);
        if (share && !share->isExpired() && Util::isPathWithinResolved(path, share->shareLocation))
            return share;
    }
    return DapplinePtr();
}

// Public shares are read-only for everybody, whatever the permission says.
bool guestMayWrite(DapplineDB& db, int userId, const Dappline& share) {
    return share.allowPublicAccess == 0 && db.hasWriteAccessForShare(userId, share.shareId);
}

std::string guestRoots(DapplineDB& db, int userId, const std::list<int>& shareIds) {
    std::string xml = std::string("<entries>") + ROOTS_META;
    for (int shareId : shareIds) {
        DapplinePtr share = db.getShare(shareId);
        if (!share || share->isExpired())
            continue;
        // The root says what the listing inside it will say.
        share->setAllowEdit(guestMayWrite(db, userId, *share));
        xml += share->toFileListXML();
    }
    return xml + "</entries>";
}

std::string guestFileList(DapplineDB& db, const std::string& userName, const ListRequest& list) {
    const int userId = API::GuestUserManager::getGuestUserID(userName);
    if (userId == -1)
        return FILE_LIST_FAIL;
    const std::list<int> shareIds = sharesOf(db, userId);
    if (list.path.empty())
        return guestRoots(db, userId, shareIds);
    DapplinePtr share = grantingShare(db, shareIds, list.path);
    // Public shares stay open, read-only, to a guest who is signed in.
    if (!share)
        return anonymousFileList(db, list);
    return listFolder(list, share->shareLocation, guestMayWrite(db, userId, *share));
}

std::string guestDirectoryRoots(DapplineDB& db, int userId, const std::list<int>& shareIds) {
    std::string xml = "<directories>";
    // Expiry is not looked at here: the tree keeps its roots.
    for (int shareId : shareIds) {
        DapplinePtr share = db.getShare(shareId);
        if (!share)
            continue;
        share->setAllowEdit(guestMayWrite(db, userId, *share));
        xml += share->toDirListXML();
    }
    return xml + "</directories>";
}

std::string guestDirectoryList(DapplineDB& db, int userId, const std::string& directory) {
    const std::list<int> shareIds = sharesOf(db, userId);
    if (directory.empty())
        return guestDirectoryRoots(db, userId, shareIds);
    for (int shareId : shareIds) {
        DapplinePtr share = db.getShare(shareId);
        if (share && Util::isPathWithinResolved(directory, share->shareLocation)) {
            if (Util::isHiddenBelow(directory, share->shareLocation))
                return NO_DIRECTORIES;
            return Util::getDirectoryListXMLWithin(share->shareLocation, directory);
        }
    }
    return NO_DIRECTORIES;
}

}  // namespace

void DapplinePlugin::onGetFileList(const void*, MessagePtr& msg) {
    const bool guest = msg->authRole == Data::AuthKey::ROLE_GUEST;
    if (!guest && msg->authRole != Data::AuthKey::ROLE_ANONYMOUS)
        return;
    ListRequest list;
    try {
        list = readListRequest(msg);
    } catch (const Poco::NotFoundException&) {
        sendSyncResponse(msg, FILE_LIST_FAIL);
        return;
    }
    // A folder the lister refuses (gone, not a folder) throws on to the
    // operation table, which logs it; the host then answers 403.
    sendSyncResponse(
        msg, guest ? guestFileList(*m_db, msg->authUser, list) : anonymousFileList(*m_db, list));
}

void DapplinePlugin::onGetDirectoryList(const void*, MessagePtr& msg) {
    if (msg->authRole != Data::AuthKey::ROLE_GUEST)
        return;
    std::string xml = NO_DIRECTORIES;
    try {
        Poco::Net::HTMLForm form;
        loadBodyForm(msg, form);
        const std::string directory = Util::convertPathToNative(form.get("directory"));
        const int userId = API::GuestUserManager::getGuestUserID(msg->authUser);
        if (userId != -1)
            xml = guestDirectoryList(*m_db, userId, directory);
    } catch (const Poco::NotFoundException&) {
        xml = NO_DIRECTORIES;
    }
    sendSyncResponse(msg, xml);
}

}  // namespace Dappline
}  // namespace Orvane
