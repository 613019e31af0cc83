// Sending a share's link by e-mail, and the links the owner puts into such a
// mail: the public one and one that works inside the local network.
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/URI.h>
#include <tinyxml.h>

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

void logHandlerError(const std::string& handler, const Poco::Exception& e) {
    Poco::Logger::get("Dapplinepro")
        .error(handler + " - Caught unhandled Poco exception [" + e.message() + "]");
}

// The owner's screens encode these twice. A text that still holds a bare "%"
// after the first decoding (a message about "50% off") is taken as it is.
std::string decoded(const std::string& text) {
    try {
        std::string out;
        Poco::URI::decode(text, out);
        return out;
    } catch (const Poco::SyntaxException&) {
        return text;
    }
}

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

}  // namespace

void DapplinePlugin::onSendShareToEmail(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result = Util::HTTP::getXMLResult("sendsharetoemail", false, "");
    try {
        Poco::Net::HTMLForm form;
        loadForm(bodyText(msg), form);
        const std::string invalid = firstInvalidField(form);
        if (!invalid.empty()) {
            result = emailStatus(false, invalid);
        } else {
            const std::string from = form.get("from");
            const std::string body =
                mailBody(from, decoded(form.get("url")), decoded(form.get("message")));
            std::string reason = "Failed to send email via server";
            const bool sent = API::EmailManager::sendHTMLEmail(
                from, form.get("toemailid"), subjectFor(from), body, form.get("replyto"), reason);
            result = emailStatus(sent, sent ? "" : reason);
        }
    } catch (const Poco::Exception& e) {
        logHandlerError("onSendShareToEmail", e);
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onGetURLForEmail(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result = Util::HTTP::getXMLResult("geturlforemail", false, "");
    try {
        Poco::Net::HTMLForm form;
        loadForm(requestField(msg, Defs::HTTP::S_HTTP_REQ_REQUEST), form);
        DapplinePtr share = m_db->getShareByName(Util::trim(form.get("sharename")));
        result = share ? share->getURL(false) : "";
    } catch (const Poco::Exception& e) {
        logHandlerError("onGetURLForEmail", e);
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onGetPrivateURLForEmail(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result = Util::HTTP::getXMLResult("getprivateurlforemail", false, "");
    try {
        const std::string base = localBaseURL();
        Poco::Net::HTMLForm form;
        loadForm(requestField(msg, Defs::HTTP::S_HTTP_REQ_REQUEST), form);
        DapplinePtr share = m_db->getShareByName(Util::trim(form.get("sharename")));
        if (!share) {
            result = "";
        } else {
            std::string link = base + "#guest";
            if (share->allowPublicAccess != 0) {
                std::string code;
                if (!Orvane::ShortURLManager().addShortURL(publicLongPath(*share), code)) {
                    throw Poco::RuntimeException("The short link could not be registered");
                }
                link = base + "/url" + code;
            }
            result.clear();
            Poco::URI::encode(link, "", result);
        }
    } catch (const Poco::Exception& e) {
        logHandlerError("onGetPrivateURLForEmail", e);
    }
    sendSyncResponse(msg, result);
}

}  // namespace Dappline
}  // namespace Orvane
