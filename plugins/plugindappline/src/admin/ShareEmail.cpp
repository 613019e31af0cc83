// Sending a share's link by e-mail, and the links the owner puts into such a
// mail: the public one and one that works inside the local network.
#include "admin/FormAnswer.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/URI.h>
#include <tinyxml.h>

#include <functional>

#include "core/Dappline.h"
#include "orvane/Defs.h"
#include "orvane/EmailManager.h"
#include "orvane/HTTPUtil.h"
#include "orvane/ProfileManager.h"
#include "orvane/ShortURLManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

const std::string::size_type MAX_SUBJECT_NAME = 15;

typedef Poco::Net::HTMLForm Form;

typedef std::function<std::string(const Dappline&)> LinkMaker;

std::string emailStatus(bool sent, const std::string& reason) {
    if (sent)
        return "<emailstatus><status>1</status><reason></reason></emailstatus>";
    // The mail server's own words may hold markup characters.
    std::string escaped;
    TiXmlBase::EncodeString(reason, &escaped);
    return "<emailstatus><status>0</status><reason>" + escaped + "</reason></emailstatus>";
}

std::string subjectFor(const std::string& from) {
    const std::string name =
        from.size() > MAX_SUBJECT_NAME ? from.substr(0, MAX_SUBJECT_NAME) + "..." : from;
    return name + " has shared files with you";
}

std::string mailBody(const std::string& from, const std::string& url, const std::string& message) {
    return "<p>" + from + " has shared some files for you through " + getProductName() +
           " at: <br/><br/><b><a href=\"" + url + "\">" + url + "</a></b><br/><br/>" + from +
           " has also sent the following message: <br/><br/>" + message + "<br/><br/></p>";
}

// The fields are checked in the order the form shows them, so the owner sees
// the first mistake first. Empty when all pass.
std::string firstInvalidField(const Poco::Net::HTMLForm& form) {
    // "message", "sharename" and "url" are required too, though not checked.
    (void)form.get("message");
    if (!Util::isAlphaSpace(form.get("from"))) {
        return "Only letters [A-z] and Space are allowed in Your Name Field";
    }
    (void)form.get("sharename");
    if (!Util::isEmailID(form.get("toemailid")))
        return "Invalid Email ID";
    if (!Util::isEmailID(form.get("replyto")))
        return "From Email ID is invalid";
    (void)form.get("url");
    if (form.get("publicshare") != "true" && !Util::isNumeric(form.get("userid"))) {
        return "Invalid User ID";
    }
    return "";
}

std::string publicLongPath(const Dappline& share) {
    std::string location;
    Poco::URI::encode(share.shareLocation, Defs::HTTP::URL_SPECIAL_CHARS, location);
    return (share.viewMode == "GALLERY" ? "/ui/core/index.html?mode=public#expl-grid."
                                        : "/ui/core/index.html?mode=public#expl-tabl.") +
           location;
}

std::string localBaseURL() {
    std::string ip;
    bool isIPv6 = false;
    if (!Util::getPrivateIPAddress(ip, isIPv6) || ip.empty()) {
        Poco::Logger::get("Dapplinepro").error("Unable to get Private IP Address of this peer");
        ip = "127.0.0.1";
    }
    return std::string(API::ProfileManager::isHTTPS() ? "https://" : "http://") + ip + ":" +
           std::to_string(API::ProfileManager::getHTTPPort());
}

// Inside the local network: the guest page, or the short link of a share
// open to the public.
std::string privateLink(const Dappline& share) {
    const std::string base = localBaseURL();
    std::string link = base + "#guest";
    if (share.allowPublicAccess != 0) {
        std::string code;
        if (!Orvane::ShortURLManager().addShortURL(publicLongPath(share), code))
            throw Poco::RuntimeException("The short link could not be registered");
        link = base + "/url" + code;
    }
    std::string encoded;
    Poco::URI::encode(link, "", encoded);
    return encoded;
}

// Both links are made from the share the query names, and are "" when there
// is none. Library errors answer the operation's failure and are logged.
std::string linkForEmail(DapplineDB& db, const MessagePtr& msg, const std::string& operation,
                         const std::string& handler, const LinkMaker& make) {
    const FormReader read = [&](const Form& form) {
        DapplinePtr share = db.getShareByName(Util::trim(form.get("sharename")));
        return share ? make(*share) : std::string();
    };
    return answerFromForm(msg, FormSource::Query, Fallback::OnPocoError,
                          Util::HTTP::getXMLResult(operation, false, ""), read, handler);
}

}  // namespace

void DapplinePlugin::onSendShareToEmail(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormReader send = [](const Form& form) {
        const std::string invalid = firstInvalidField(form);
        if (!invalid.empty())
            return emailStatus(false, invalid);
        // The owner's screens encode these twice.
        const std::string from = form.get("from");
        const std::string body =
            mailBody(from, decodedOrAsIs(form.get("url")), decodedOrAsIs(form.get("message")));
        std::string reason = "Failed to send email via server";
        const bool sent = API::EmailManager::sendHTMLEmail(
            from, form.get("toemailid"), subjectFor(from), body, form.get("replyto"), reason);
        return emailStatus(sent, sent ? "" : reason);
    };
    sendSyncResponse(msg, answerFromForm(msg, FormSource::Body, Fallback::OnPocoError,
                                         Util::HTTP::getXMLResult("sendsharetoemail", false, ""),
                                         send, "onSendShareToEmail"));
}

void DapplinePlugin::onGetURLForEmail(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const LinkMaker link = [](const Dappline& share) { return share.getURL(false); };
    sendSyncResponse(msg, linkForEmail(*m_db, msg, "geturlforemail", "onGetURLForEmail", link));
}

void DapplinePlugin::onGetPrivateURLForEmail(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    sendSyncResponse(msg, linkForEmail(*m_db, msg, "getprivateurlforemail",
                                       "onGetPrivateURLForEmail", privateLink));
}

}  // namespace Dappline
}  // namespace Orvane
