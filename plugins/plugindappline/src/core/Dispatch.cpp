// The message entry: deferral onto the host's workers, routing to the share
// pages, the operation table or the resource archive, the owner gate, and
// the helpers that post answers and build the error page.
#include <Poco/Exception.h>
#include <Poco/Logger.h>

#include <typeinfo>
#include <utility>

#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Exception.h"
#include "orvane/HTTPUtil.h"
#include "orvane/MessageUtil.h"
#include "orvane/PoManager.h"
#include "orvane/ProfileManager.h"
#include "pages/PagePieces.h"

namespace Orvane {
namespace Dappline {

using namespace Orvane::Defs;

namespace {

const char* const FORCE_AUTH_FILE = "force_auth.gif";
const char* const TEXT_XML_UTF8 = "text/xml; charset=utf-8";
const char* const TEXT_HTML_UTF8 = "text/html; charset=utf-8";
const char* const RESOURCE_CACHE_CONTROL = "max-age=1800";
// Sources above this come from the host's web front; roles above the owner
// floor are the signed-in owner.
const int WEB_SOURCE_FLOOR = 69;
const int OWNER_ROLE_FLOOR = 99;

Poco::Logger& log() {
    return Poco::Logger::get("Dapplinepro");
}

std::string T(const std::string& english) {
    return Orvane::PoManager().getTranslation(english);
}

bool isDeferredDelivery(const void* sender) {
    const System::DeliveryContext* context = static_cast<const System::DeliveryContext*>(sender);
    return context != nullptr && context->deferred != 0;
}

// An answer to the sync proxy with body as its data, moved in.
MessagePtr newAnswer(const MessagePtr& request, std::string body) {
    MessagePtr answer = syncAnswer(request);
    answer->setRawData(std::move(body));
    return answer;
}

std::string notFoundPage(const std::string& product) {
    return "<html>"
           "<head><title>Orvane - Dappline Error</title>"
           "</head><body><h2>" +
           product +
           " Dappline was unable to find the page you are looking for.</h2>"
           "<!-- MESSAGE: Missing or Incorrect Share -->"
           "This could be due to a number of reasons: <br>"
           "<ul>"
           "<li>The share does not exist </li>"
           "<li>The share might have been removed</li>"
           "<li>The share might have expired</li>"
           "<li>There was an internal error</li>"
           "</ul>"
           "</body></html>";
}

}  // namespace

void DapplinePlugin::onMessage(const void* sender, MessagePtr& msg) {
    try {
        if (!msg)
            return;
        if (!isDeferredDelivery(sender)) {
            // All work runs on the deferred workers; this delivery only hands over.
            if (!Orvane::DeferredDispatcher()->postMessage(msg)) {
                log().error("onMessage could not defer " + msg->operation);
            }
            return;
        }
        if (msg->operation.compare(0, 5, "share") == 0) {
            onGetShare(sender, msg);
            return;
        }
        if (m_opProcessor.processOperation(msg, true))
            return;
        serveResource(msg);
    } catch (const Poco::Exception& e) {
        log().error(std::string("onMessage") + " Caught UnHandled Poco::Exception : " +
                    e.displayText() + ": " + e.className() + " : " + e.message());
    } catch (const std::exception& e) {
        log().error(std::string("onMessage") + " Caught UnHandled std::exception : " + e.what());
    } catch (...) {
        log().error(std::string("onMessage") + " Caught UnHandled Unknown Exception ");
    }
}

void DapplinePlugin::serveResource(MessagePtr& msg) {
    if (m_vfs->getArchive().empty())
        m_vfs->setArchive(m_pluginDir + "resource.zip");
    const std::string& file = msg->operation;
    if (file == FORCE_AUTH_FILE && msg->authRole != Data::AuthKey::ROLE_GUEST &&
        !hasRequestField(msg, HTTP::S_HTTP_REQ_CREDENTIALS_INFO)) {
        sendForceAuthChallenge(msg);
        return;
    }

    std::string contentType = Util::HTTP::getHTTPContentType(file);
    std::string bytes;
    std::size_t size = 0;
    try {
        m_vfs->readFile(file, bytes, size);
    } catch (const Orvane::Exception& e) {
        log().error(e.displayText());
        size = 0;
    }
    if (size == 0) {
        bytes = getErrorHTML("");
        contentType = "text/html";
    }
    MessagePtr answer = newAnswer(msg, bytes);
    (*answer)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_SET_CACHE_CONTROL] = RESOURCE_CACHE_CONTROL;
    Util::MessageUtil::addHTTPResponse(answer, 200, contentType);
    post(answer);
}

// Fetching this image makes the browser ask a visitor for credentials once.
void DapplinePlugin::sendForceAuthChallenge(MessagePtr& msg) {
    post(authChallenge(msg, T("Invalid Authorization to Access Page")));
}

MessagePtr DapplinePlugin::authChallenge(const MessagePtr& request, const std::string& message) {
    MessagePtr answer = newAnswer(request, getErrorHTML(message));
    answer->sender = m_name;
    Util::MessageUtil::addHTTPResponse(answer, 200, TEXT_HTML_UTF8);
    (*answer)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_RESP_AUTHENTICATION_REALM] =
        getProductName() + " Dappline";
    return answer;
}

bool DapplinePlugin::passSourceGate(MessagePtr& msg) {
    if (msg->authSource > WEB_SOURCE_FLOOR)
        return true;
    log().error("Authentication Failed.");
    sendSyncResponse(msg,
                     Util::HTTP::getXMLResult("Authentication Failed", false, T("Bad Source")));
    return false;
}

bool DapplinePlugin::passOwnerGate(MessagePtr& msg) {
    if (!passSourceGate(msg))
        return false;
    if (msg->authRole <= OWNER_ROLE_FLOOR) {
        log().error("Authentication Failed.");
        sendSyncResponse(msg,
                         Util::HTTP::getXMLResult("Authentication Failed", false, T("Bad Role")));
        return false;
    }
    if (!API::ProfileManager::isProfileLoggedIn()) {
        log().error("Profile Unavailable.");
        sendSyncResponse(msg, Util::HTTP::getXMLResult("Profile Unavailable", false,
                                                       T("No Profile Available for Operation")));
        return false;
    }
    return true;
}

void DapplinePlugin::sendSyncResponse(MessagePtr& request, const std::string& body) {
    MessagePtr answer = newAnswer(request, body);
    answer->sender = m_name;
    Util::MessageUtil::addHTTPResponse(answer, 200, TEXT_XML_UTF8);
    post(answer);
}

void DapplinePlugin::sendSyncHTTPResponse(MessagePtr& request, std::string body, int status) {
    MessagePtr answer = newAnswer(request, std::move(body));
    answer->sender = m_name;
    Util::MessageUtil::addHTTPResponse(answer, status, TEXT_HTML_UTF8);
    post(answer);
}

// Messages may carry file names a visitor chose, so they are escaped in the
// comment and in the box alike.
std::string DapplinePlugin::getErrorHTML(const std::string& message) {
    const std::string product = getProductName();
    if (message.empty())
        return notFoundPage(product);
    const std::string shown = Page::escapeHTML(message);
    std::string page = "<html><head><title>Orvane - Dappline Error</title>";
    page += "<style type=\"text/css\">" + m_css + "</style></head><body>";
    page += "<!-- MESSAGE:" + shown + "-->";
    page += "<div id=\"content_wrapper\"><div id=\"content\"><div id=\"header\">";
    page += "<a class=\"orvane_dappline_logo\" href=\"" + getBaseURL() + "/\" title=\"" + product +
            " Dappline\"><h1>" + product + " Dappline</h1></a></div>";
    page += "<div id=\"dappline_box\">";
    page +=
        "<br /><br /><div style='color: black; font-size: 14px;background:white;'> Following "
        "error occurred in Dappline in serving your request <br /> </div>";
    page += "<div style='color: red; font-size: 14px;background:white;'><b>" + shown +
            "</b><br /><br /></div>";
    page += "\t\t</div>\t\t\t</div>\t\t</div>\t";
    page += "</body></html>";
    return page;
}

std::string DapplinePlugin::getBaseURL() const {
    return "/app/dapplinepro";
}

std::string DapplinePlugin::getShareURL() const {
    return getBaseURL() + "/share/";
}

void DapplinePlugin::post(const MessagePtr& msg) {
    // Answers before startup (or without it) still reach the host.
    System::MessageDispatcher* dispatcher = m_dispatcher ? m_dispatcher : Orvane::Dispatcher();
    dispatcher->postMessage(msg);
}

}  // namespace Dappline
}  // namespace Orvane
