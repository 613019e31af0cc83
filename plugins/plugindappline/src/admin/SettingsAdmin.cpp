// The transfer history, the plug-in's status and settings, the public switch
// of a share, and the size of a shared folder.
#include "admin/FormAnswer.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "core/PluginVersion.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Net/HTMLForm.h>
#include <tinyxml.h>

#include <cstdlib>

#include "core/Dappline.h"
#include "orvane/Defs.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const DEFAULT_HEADER = "DEFAULT_IMAGE";

std::string xmlText(const std::string& text) {
    std::string out;
    TiXmlBase::EncodeString(text, &out);
    return out;
}

}  // namespace

void DapplinePlugin::onGetHistory(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormReader read = [this](const Poco::Net::HTMLForm& form) {
        const int offset = std::atoi(form.get("offset").c_str());
        const int max = std::atoi(form.get("max").c_str());
        const int shareId = std::atoi(form.get("shareid").c_str());
        return m_db->getHistoryXML(offset, max, shareId, form.get("filter", ""));
    };
    sendSyncResponse(msg, answerFromForm(msg, FormSource::Query, Fallback::OnMissingField,
                                         "<histories><meta></meta></histories>", read));
}

void DapplinePlugin::onClearHistory(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    sendSyncResponse(msg, Util::HTTP::getXMLResult("clearhistory", m_db->clearHistory(), ""));
}

void DapplinePlugin::onGetStatus(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    sendSyncResponse(msg, std::string("<systemstatus><status><version>") + PLUGIN_VERSION +
                              "</version></status></systemstatus>");
}

void DapplinePlugin::onGetSharedFolderSize(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    // Kept for the owner's screens that still call it; it has nothing to
    // report, and the web front answers the unanswered request itself.
    Poco::Net::HTMLForm form;
    loadQueryForm(msg, form);
}

void DapplinePlugin::onShowGS(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const bool shown = m_db->getConfigValue("dappline", "showgs", Defs::Defaults::TRUEVAL) ==
                       Defs::Defaults::TRUEVAL;
    sendSyncResponse(msg, Util::HTTP::getXMLResult("showgs", shown, ""));
}

void DapplinePlugin::onSetShowGS(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormAction set = [this](const Poco::Net::HTMLForm& form) {
        const bool show = std::atoi(form.get("show").c_str()) != 0;
        m_db->setConfigValue("dappline", "showgs",
                             show ? Defs::Defaults::TRUEVAL : Defs::Defaults::FALSEVAL);
        return true;
    };
    sendSyncResponse(msg, resultFromForm(msg, FormSource::Query, Fallback::OnPocoError, "setshowgs",
                                         set, "onSetShowGS"));
}

void DapplinePlugin::onGetCustomHeader(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    // The header is the owner's free text: unescaped, an & or < in it would
    // break the document.
    const std::string header = m_db->getConfigValue("CUSTOMHEADER", "ENABLED", DEFAULT_HEADER);
    sendSyncResponse(msg, "<configitems><configitem><customheader>" + xmlText(header) +
                              "</customheader></configitem></configitems>");
}

void DapplinePlugin::onSetCustomHeader(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormAction set = [this](const Poco::Net::HTMLForm& form) {
        if (form.has("customheader"))
            m_db->setConfigValue("CUSTOMHEADER", "ENABLED", form.get("customheader"));
        return true;
    };
    sendSyncResponse(msg, resultFromForm(msg, FormSource::Query, Fallback::OnMissingField,
                                         "setcustomheader", set));
}

void DapplinePlugin::onSetAllowPublicAccess(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormAction set = [this](const Poco::Net::HTMLForm& form) {
        const int shareId = std::atoi(Util::trim(form.get("shareid")).c_str());
        const int allow = std::atoi(form.get("allowpublicaccess").c_str());
        DapplinePtr share = m_db->getShare(shareId);
        if (!share)
            return false;
        share->allowPublicAccess = allow;
        // A share made public needs no guest list; the list is only dropped
        // once the switch has really been stored.
        if (!m_db->updateShare(*share))
            return false;
        if (allow == 1)
            m_db->deleteUsersForShare(share->shareId);
        return true;
    };
    sendSyncResponse(msg, resultFromForm(msg, FormSource::Query, Fallback::OnPocoError,
                                         "setallowpublicaccess", set, "onSetAllowPublicAccess"));
}

// Every regular file counts, hidden ones too: a limit that a name starting
// with a dot escapes is no limit. The walk itself is the one the host's
// size accounting uses (links followed, each folder once, loops ended).
std::int64_t DapplinePlugin::getSharedFolderSize(std::string folder) {
    return Storage::ShareSpace::measure(folder);
}

}  // namespace Dappline
}  // namespace Orvane
