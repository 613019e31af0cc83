// File transfers: the SEND_FILE reply that lets the host stream a file, the
// record kept until the host reports the end, the host's access questions
// and the owner's list of transfers in progress. m_downloads is reached from
// several deferred workers and is only touched under m_stateMutex.
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/URI.h>
#include <Poco/UUID.h>

#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "orvane/MessageUtil.h"
#include "orvane/PoManager.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;

// The name goes into a header value: line breaks and other controls would
// end it early.
std::string withoutControls(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            out += c;
    }
    return out;
}

std::string contentDisposition(const MessagePtr& msg, const std::string& fileName,
                               const std::string& contentType, bool& hasDisposition) {
    const std::string action = queryValue(msg, "action");
    std::string offered = fileName;
    if (requestField(msg, HTTP::S_HTTP_REQ_USER_AGENT).find("MSIE") != std::string::npos) {
        offered.clear();
        Poco::URI::encode(fileName, HTTP::URL_SPECIAL_CHARS, offered);
    }
    offered = withoutControls(offered);
    hasDisposition = true;
    if (action == "download" || contentType == "audio/mpeg") {
        return "attachment; filename=\"" + offered + "\"";
    }
    if (action.empty())
        return "inline; filename=\"" + offered + "\"";
    hasDisposition = false;
    return std::string();
}

std::string visitorName(int userId) {
    boost::shared_ptr<Data::GuestUser> user = userId == -1
                                                  ? boost::shared_ptr<Data::GuestUser>()
                                                  : API::GuestUserManager::guestUserGet(userId);
    return user ? user->getName() : PoManager().getTranslation("Anonymous");
}

std::string xml(const std::string& text) {
    return Util::xmlEscape(text);
}

}  // namespace

void DapplinePlugin::sendChunkedFile(MessagePtr& msg, System::MessageDispatcher* dispatcher,
                                     const std::string& filePath, const std::string& fileName,
                                     std::uint64_t fileSize, int userId, bool deleteWhenSent) {
    if (!Util::isAllowedFile(filePath) || !Util::isAllowedPath(filePath, false, true))
        return;
    sendAllowedFile(msg, dispatcher, filePath, fileName, fileSize, userId, deleteWhenSent);
}

void DapplinePlugin::sendAllowedFile(MessagePtr& msg, System::MessageDispatcher* dispatcher,
                                     const std::string& filePath, const std::string& fileName,
                                     std::uint64_t fileSize, int userId, bool deleteWhenSent) {
    MessagePtr reply = syncAnswer(msg);
    reply->sender = m_name;
    const std::string contentType = Util::HTTP::getHTTPContentType(filePath);
    bool hasDisposition = false;
    const std::string disposition = contentDisposition(msg, fileName, contentType, hasDisposition);
    Util::MessageUtil::addHTTPResponse(reply, 200, contentType);
    Data::VariantRow& resp = (*reply)[HTTP::MS_HTTP_RESP];
    resp[HTTP::S_HTTP_RESP_TYPE] = contentType;
    resp[HTTP::S_HTTP_SEND_FILE] = filePath;
    resp[Sync::S_SEND_FILE_COMPLETE_SERVICE] = m_name;
    if (hasDisposition)
        resp[HTTP::S_HTTP_CONTENT_DISPOSITION] = disposition;
    const std::string token = syncToken(msg);

    // Recorded before the reply leaves: the host may report the end of a
    // short transfer on another worker before this one carries on.
    Poco::UUID key;
    if (key.tryParse(token)) {
        const DownloadItem item(filePath, deleteWhenSent, visitorName(userId), fileSize);
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        m_downloads.insert(std::make_pair(key, item));
    } else {
        Poco::Logger::get("Dapplinepro").error("sendChunkedFile: token is not a UUID: " + token);
    }
    System::MessageDispatcher* bus = dispatcher ? dispatcher : m_dispatcher;
    if (bus)
        bus->postMessage(reply);
}

void DapplinePlugin::onGetFile(const void*, MessagePtr& msg) {
    if (!mayAccess(msg, requestField(msg, "FILEPATH"), true))
        return;
    MessagePtr reply = syncAnswer(msg);
    reply->sender = m_name;
    (*reply)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_RESP_ALLOW] = 1;
    if (m_dispatcher)
        m_dispatcher->postMessage(reply);
}

void DapplinePlugin::onDownloadFile(const void*, MessagePtr& msg) {
    try {
        passToUserManager(msg, queryValue(msg, "filepath"), true);
    } catch (...) {
        // The host answers a request nobody answered; nothing to add here.
    }
}

void DapplinePlugin::onSendFileComplete(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    Poco::UUID key;
    if (!key.tryParse(syncToken(msg)))
        return;
    DownloadItem item;
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        auto it = m_downloads.find(key);
        if (it == m_downloads.end())
            return;
        item = it->second;
        m_downloads.erase(it);
    }
    if (!item.deleteWhenSent)
        return;
    try {
        Poco::File file(item.filePath);
        if (file.exists())
            file.remove(true);
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("Dapplinepro").error("onSendFileComplete - " + e.displayText());
    }
}

void DapplinePlugin::getCurrentlyDownloadedFiles(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string out = "<downloadlist>";
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        for (const auto& entry : m_downloads) {
            const DownloadItem& item = entry.second;
            out += "<download><filename>" + xml(item.filePath) + "</filename><user>" +
                   xml(item.userName) + "</user><filesize>" + std::to_string(item.fileSize) +
                   "</filesize></download>";
        }
    }
    sendSyncResponse(msg, out + "</downloadlist>");
}

}  // namespace Dappline
}  // namespace Orvane
