// The transfer history, the plug-in's status and settings, the public switch
// of a share, and the size of a shared folder.
#include "admin/FormAnswer.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "core/PluginVersion.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Net/HTMLForm.h>
#include <tinyxml.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <set>
#include <utility>

#include "core/Dappline.h"
#include "orvane/Defs.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Util.h"
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

namespace {

// Folders already counted, by device and inode.
typedef std::set<std::pair<dev_t, ino_t>> VisitedFolders;

bool firstVisit(const std::string& folder, VisitedFolders& visited) {
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0)
        return false;
    return visited.insert(std::make_pair(info.st_dev, info.st_ino)).second;
}

std::int64_t folderSize(const std::string& folder, VisitedFolders& visited) {
    std::int64_t total = 0;
    Poco::DirectoryIterator end;
    for (Poco::DirectoryIterator it(folder); it != end; ++it) {
        try {
            const Poco::File& entry = *it;
            if (entry.isHidden())
                continue;
            if (entry.isDirectory()) {
                if (firstVisit(entry.path(), visited))
                    total += folderSize(entry.path(), visited);
            } else if (entry.isFile()) {
                total += static_cast<std::int64_t>(Poco::File(folder + "/" + it.name()).getSize());
            }
        } catch (const Poco::Exception&) {
            // An entry that vanished or cannot be read counts nothing.
        }
    }
    return total;
}

}  // namespace

// Sums the regular, non-hidden files below the folder. Links to folders are
// followed, but never into a folder counted already or into one that holds
// the starting folder (a link back up): each folder counts once, and a loop
// ends.
std::int64_t DapplinePlugin::getSharedFolderSize(std::string folder) {
    VisitedFolders visited;
    char* real = ::realpath(folder.c_str(), nullptr);
    std::string physical = real ? real : folder;
    std::free(real);
    for (;;) {
        firstVisit(physical, visited);
        const std::string::size_type slash = physical.rfind('/');
        if (slash == std::string::npos || physical == "/")
            break;
        physical = slash == 0 ? "/" : physical.substr(0, slash);
    }
    return folderSize(folder, visited);
}

}  // namespace Dappline
}  // namespace Orvane
