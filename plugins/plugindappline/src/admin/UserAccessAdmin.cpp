// Which host guest users may open a share, and whether they may write to it.
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"

#include <Poco/Net/HTMLForm.h>

#include <functional>

#include "admin/FormAnswer.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

typedef Poco::Net::HTMLForm Form;

const char* const NO_USERS = "<users></users>";

// Every operation here reads the query; only a missing field gives the
// fallback answer.
std::string queryAnswer(const MessagePtr& msg, const std::string& fallback,
                        const FormReader& read) {
    return answerFromForm(msg, FormSource::Query, Fallback::OnMissingField, fallback, read);
}

std::string queryResult(const MessagePtr& msg, const std::string& operation,
                        const FormAction& act) {
    return resultFromForm(msg, FormSource::Query, Fallback::OnMissingField, operation, act);
}

// One of the share's two user lists; empty without "shareid".
std::string usersAnswer(const MessagePtr& msg, const std::function<std::string(int)>& list) {
    return queryAnswer(msg, NO_USERS, [&](const Form& form) {
        return form.has("shareid") ? list(intParam(form, "shareid", 0)) : std::string(NO_USERS);
    });
}

int shareIdOf(const Form& form) {
    return intParam(form, "shareid", 0);
}

int userIdOf(const Form& form) {
    return intParam(form, "userid", 0);
}

bool namesShareAndUser(const Form& form) {
    return form.has("shareid") && form.has("userid");
}

}  // namespace

void DapplinePlugin::onGetUsersForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    sendSyncResponse(msg,
                     usersAnswer(msg, [this](int id) { return m_db->getUsersForShareXML(id); }));
}

void DapplinePlugin::onGetAddUsersForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    sendSyncResponse(msg,
                     usersAnswer(msg, [this](int id) { return m_db->getAddUsersForShareXML(id); }));
}

void DapplinePlugin::onGetUserAccessForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormReader read = [this](const Form& form) {
        return m_db->getUserAccessForShare(userIdOf(form), shareIdOf(form));
    };
    sendSyncResponse(msg, queryAnswer(msg, "<access><writemode>0</writemode></access>", read));
}

void DapplinePlugin::onSetUserAccessForShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormAction set = [this](const Form& form) {
        return m_db->setUserAccessForShare(userIdOf(form), shareIdOf(form),
                                           form.get("write", "") == "1");
    };
    // The answer names the operation the way the owner's screens expect it.
    sendSyncResponse(msg, queryResult(msg, "setuseraccess", set));
}

void DapplinePlugin::onAddUserToShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    // New users always start read only; write access is granted apart.
    const FormAction add = [this](const Form& form) {
        return namesShareAndUser(form) && m_db->addUserToShare(shareIdOf(form), userIdOf(form), 0);
    };
    sendSyncResponse(msg, queryResult(msg, "addusertoshare", add));
}

void DapplinePlugin::onDeleteUserFromShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormAction remove = [this](const Form& form) {
        return namesShareAndUser(form) &&
               m_db->deleteUserFromShare(shareIdOf(form), userIdOf(form));
    };
    sendSyncResponse(msg, queryResult(msg, "deleteuserfromshare", remove));
}

}  // namespace Dappline
}  // namespace Orvane
