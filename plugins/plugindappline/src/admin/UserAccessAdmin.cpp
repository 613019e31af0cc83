// Which host guest users may open a share, and whether they may write to it.
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>

#include <cstdlib>

#include "orvane/Defs.h"
#include "orvane/HTTPUtil.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const NO_USERS = "<users></users>";

int idParam(const Poco::Net::HTMLForm& form, const std::string& name) {
    return form.has(name) ? std::atoi(form.get(name).c_str()) : 0;
}

}  // namespace

void DapplinePlugin::onGetUsersForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result = NO_USERS;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        if (form.has("shareid"))
            result = m_db->getUsersForShareXML(idParam(form, "shareid"));
    } catch (const Poco::NotFoundException&) {
        result = NO_USERS;
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onGetAddUsersForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result = NO_USERS;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        if (form.has("shareid"))
            result = m_db->getAddUsersForShareXML(idParam(form, "shareid"));
    } catch (const Poco::NotFoundException&) {
        result = NO_USERS;
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onGetUserAccessForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        result = m_db->getUserAccessForShare(idParam(form, "userid"), idParam(form, "shareid"));
    } catch (const Poco::NotFoundException&) {
        result = "<access><writemode>0</writemode></access>";
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onSetUserAccessForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    // The answer names the operation the way the owner's screens expect it.
    std::string result = Util::HTTP::getXMLResult("setuseraccess", false, "");
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        const bool write = form.has("write") && form.get("write") == "1";
        const bool ok =
            m_db->setUserAccessForShare(idParam(form, "userid"), idParam(form, "shareid"), write);
        result = Util::HTTP::getXMLResult("setuseraccess", ok, "");
    } catch (const Poco::NotFoundException&) {
        result = Util::HTTP::getXMLResult("setuseraccess", false, "");
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onAddUserToShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    bool ok = false;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        // New users always start read only; write access is granted apart.
        if (form.has("shareid") && form.has("userid")) {
            ok = m_db->addUserToShare(idParam(form, "shareid"), idParam(form, "userid"), 0);
        }
    } catch (const Poco::NotFoundException&) {
        ok = false;
    }
    sendSyncResponse(msg, Util::HTTP::getXMLResult("addusertoshare", ok, ""));
}

void DapplinePlugin::onDeleteUserFromShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    bool ok = false;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        if (form.has("shareid") && form.has("userid")) {
            ok = m_db->deleteUserFromShare(idParam(form, "shareid"), idParam(form, "userid"));
        }
    } catch (const Poco::NotFoundException&) {
        ok = false;
    }
    sendSyncResponse(msg, Util::HTTP::getXMLResult("deleteuserfromshare", ok, ""));
}

}  // namespace Dappline
}  // namespace Orvane
