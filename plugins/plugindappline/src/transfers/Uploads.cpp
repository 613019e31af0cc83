// Upload decisions: whether the host's upload path may store files for a
// visitor and into which folder, the history line for each stored file, and
// the explorer's question whether a guest may upload to a path. The plug-in
// never touches the uploaded bytes. Handlers run on the deferred workers and
// keep no state between calls.
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/URI.h>

#include <algorithm>

#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/GuestUser.h"
#include "orvane/GuestUserManager.h"
#include "orvane/MessageUtil.h"
#include "orvane/PoManager.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceFields.h"
#include "store/DapplineDB.h"
#include "store/DapplineHistory.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;

const char* const TEXT_HTML_UTF8 = "text/html; charset=utf-8";

Poco::Logger& log() {
    return Poco::Logger::get("Dapplinepro");
}

std::string T(const std::string& english) {
    return PoManager().getTranslation(english);
}

// The folder address goes into a JavaScript string inside HTML: percent-
// encoding every quote, backslash, angle bracket and control character keeps
// a crafted folder name from closing the string, and the browser decodes it.
std::string addressText(const std::string& path) {
    std::string encoded;
    Poco::URI::encode(path, "?#", encoded);
    return encoded;
}

std::string redirectPage(const std::string& address) {
    return "<HEAD><SCRIPT language='JavaScript'>\n"
           "<!--\n"
           "window.location='" +
           address +
           "';\n"
           "//-->\n"
           "</SCRIPT>\n"
           "<!-- MESSAGE: FILE UPLOAD: OK --></HEAD>\n";
}

// Makes the target folder; an empty result means it could not be made.
std::string prepareTarget(const std::string& target, std::string& failure) {
    try {
        Poco::File folder(target);
        if (!folder.exists())
            folder.createDirectories();
        // A file in the folder's place would make every stored part fail.
        if (folder.exists() && folder.isDirectory())
            return target;
        failure = "Unable to upload file(s) : Error Making Path";
    } catch (...) {
        failure = "Unable to upload file(s) : Unknown error";
    }
    log().error(std::string("onStartUpload") + " Caught Unknown Exception : ");
    return std::string();
}

MessagePtr uploadAnswer(MessagePtr& request, const std::string& sender, const std::string& body,
                        bool allow, const std::string& dirName) {
    MessagePtr answer = syncAnswer(request);
    answer->setRawData(body);
    answer->sender = sender;
    (*answer)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_RESP_ALLOW] = allow ? 1 : 0;
    (*answer)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_RESP_DIRNAME] = dirName;
    Util::MessageUtil::addHTTPResponse(answer, 200, TEXT_HTML_UTF8);
    return answer;
}

// What the upload says it will bring (the host's reading of its
// Content-Length); 0 for a chunked body, whose room is claimed as it comes.
std::int64_t declaredLength(const MessagePtr& msg) {
    const std::string text = requestField(msg, Defs::Space::S_UPLOAD_LENGTH);
    return text.empty() ? 0 : std::max<std::int64_t>(0, Data::VariantField(text).getInt64());
}

// The room is checked against what the share holds with the writes under
// way, and against what the upload declares: a folder at its limit still
// takes an upload that brings nothing, as it always did, but an upload
// that would take the folder past it is turned away before its first byte.
bool hasRoom(const std::string& location, std::int64_t limit, const MessagePtr& msg) {
    return Storage::ShareSpace::instance().fits(location, limit, declaredLength(msg));
}

// The share the host's writer must hold the stored bytes against.
void nameShare(Data::VariantRow& row, const std::string& location, std::int64_t limit) {
    row[Defs::Space::S_SHARE_ROOT] = Util::convertPathToNative(location);
    row[Defs::Space::S_SIZE_LIMIT] = static_cast<long long>(limit);
}

}  // namespace

void DapplinePlugin::sendSyncHTTPUploadResponse(MessagePtr& request, const std::string& body,
                                                bool allow, const std::string& dirName) {
    post(uploadAnswer(request, m_name, body, allow, dirName));
}

void DapplinePlugin::onStartUpload(const void*, MessagePtr& msg) {
    if (!passSourceGate(msg))
        return;
    auto refuse = [&](const std::string& text) {
        sendSyncHTTPUploadResponse(msg, getErrorHTML(T(text)), false, "");
    };
    if (m_attemptsTracker.isLocked()) {
        log().error("Too many Bad Login Attempts, Dappline Locked!");
        return refuse("Too many Bad Login Attempts");
    }
    Poco::Net::HTMLForm form;
    loadQueryForm(msg, form);
    const std::string dirName = form.get("dirname", "");
    DapplinePtr share = m_db->getShareByName(form.get("sharename", ""));
    if (!share)
        return refuse("Invalid Share Name");
    if (share->isExpired())
        return refuse("Folder Share Time Period Expired!");
    const int userId = getShareUserID(share, msg);
    if (userId == -1)
        return;
    // Shares open to the public never take uploads.
    if (share->allowPublicAccess != 0 || !m_db->hasWriteAccessForShare(userId, share->shareId))
        return refuse("No upload access for the user");
    const std::int64_t limit = m_db->getShareSizeLimit(share->shareName) * 1024;
    if (!hasRoom(share->shareLocation, limit, msg))
        return refuse("Unable to upload file(s). Size Limit Exceeded");

    std::string ignoredShare, relative;
    splitIntoParts(dirName, ignoredShare, relative);
    const std::string target = share->shareLocation + "/" + relative;
    // Nor may a link in the shared folder take the files out of it.
    if (target.find("..") != std::string::npos ||
        !Util::isPathWithinResolved(target, share->shareLocation))
        return refuse("Bad Params");
    std::string failure;
    const std::string folder = prepareTarget(Util::convertPathToNative(target), failure);
    if (folder.empty())
        return refuse(failure);
    const std::string address = "../../.." + getShareURL() + addressText(dirName);
    MessagePtr answer = uploadAnswer(msg, m_name, redirectPage(address), true, folder);
    nameShare((*answer)[HTTP::MS_HTTP_RESP], share->shareLocation, limit);
    post(answer);
}

void DapplinePlugin::onFinishUpload(const void*, MessagePtr& msg) {
    if (!passSourceGate(msg))
        return;
    Poco::Net::HTMLForm form;
    loadQueryForm(msg, form);
    std::string shareName = form.get("sharename", "");
    if (shareName.empty() && hasRequestField(msg, HTTP::S_HTTP_REQ_SHARENAME))
        shareName = requestField(msg, HTTP::S_HTTP_REQ_SHARENAME);
    DapplinePtr share = m_db->getShareByName(shareName);
    if (!share)
        return;
    const int userId = getShareUserID(share, msg);
    if (userId == -1 && share->allowPublicAccess == 0)
        return;
    const std::string path = requestField(msg, HTTP::S_HTTP_REQ_UPLOADFILEPATH);
    const std::int64_t size =
        Data::VariantField(requestField(msg, HTTP::S_HTTP_REQ_UPLOADFILESIZE)).getInt64();
    boost::shared_ptr<Data::GuestUser> guest = API::GuestUserManager::guestUserGet(userId);
    if (!guest)
        return;
    DapplineHistory entry(share->shareId, path, size, DapplineHistory::now(), userId,
                          guest->getName(), true);
    m_db->addHistory(entry);
}

void DapplinePlugin::onStartGuestUpload(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadQueryForm(msg, form);
    // A missing "path" throws to the operation table, which logs it.
    const std::string path = form.get("path");
    bool write = false;
    std::string shareLocation;
    std::int64_t sizeLimit = 0;
    const bool access = doesGuestHaveAccess(msg, path, write, shareLocation, false, sizeLimit);
    const bool room = access && write && hasRoom(shareLocation, sizeLimit, msg);
    Data::VariantRow& mark = (*msg)[GuestAccess::MS_GUESTACCESS];
    mark[GuestAccess::S_ALLOW] = room ? 1 : 0;
    if (room)
        nameShare(mark, shareLocation, sizeLimit);
    else if (access && write)
        mark[Defs::Space::S_SIZE_LIMIT_EXCEEDED] = 1;
    msg->target = Defs::Service::EXPLORER;
    msg->operation = "START_UPLOAD";
    post(msg);
}

}  // namespace Dappline
}  // namespace Orvane
