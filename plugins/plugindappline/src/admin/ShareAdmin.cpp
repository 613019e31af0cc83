// The owner's share list and the operations that create, change and remove
// shares, plus the guest user's own list of shares.
#include "admin/FormAnswer.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Path.h>
#include <Poco/URI.h>

#include <cstdlib>
#include <list>

#include "core/Dappline.h"
#include "orvane/AuthKey.h"
#include "orvane/Defs.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "orvane/ShortURLManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const NO_SHARES = "<shares></shares>";

typedef Poco::Net::HTMLForm Form;

// Only folders and plain files may be shared; an empty text is no path at all
// (Poco asserts on it).
bool isShareablePath(const std::string& location) {
    if (location.empty())
        return false;
    Poco::File file(location);
    return file.exists() && (file.isDirectory() || file.isFile());
}

std::string absolutePath(const std::string& location) {
    return Poco::Path(location).absolute().toString();
}

// What the owner may share: a folder or plain file the host allows, and
// never "/" or a folder that holds the profile, whose owner token and
// databases a guest could otherwise read or, with write access, take away.
bool isAllowedShareLocation(const std::string& location) {
    return isShareablePath(location) && Util::isAllowedPath(location, false, true) &&
           !Util::holdsProfile(absolutePath(location));
}

std::string wrapShares(const std::string& inner) {
    return "<shares>" + inner + "</shares>";
}

// The share the form describes at location; what the form leaves out comes
// from defaults.
Dappline shareFromForm(const Form& form, int shareId, const std::string& location,
                       const Dappline& defaults) {
    return Dappline(shareId, Util::trim(form.get("sharename", "")), absolutePath(location),
                    form.get("viewmode", ""), form.get("validityperiod", defaults.validityPeriod),
                    int64Param(form, "sharesizelimit", defaults.shareSizeLimit),
                    intParam(form, "viewsize", defaults.viewSize),
                    intParam(form, "thumbsize", defaults.thumbSize),
                    intParam(form, "allowpublicaccess", defaults.allowPublicAccess));
}

}  // namespace

void DapplinePlugin::onGetShares(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    sendSyncResponse(msg, m_db->getSharesXML());
}

void DapplinePlugin::onGetSharesForFilter(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormReader read = [this](const Form& form) {
        const std::string location = form.get("location", "");
        const int userId = intParam(form, "userid", -1);
        std::list<int> userShares;
        if (userId != -1)
            m_db->getSharesForUser(userId, userShares);
        auto ownedByUser = [&](int shareId) {
            for (int id : userShares) {
                if (id == shareId)
                    return true;
            }
            return false;
        };
        std::string inner;
        if (!location.empty()) {
            std::list<DapplinePtr> found;
            m_db->getSharesForLocation(location, found);
            for (const DapplinePtr& share : found) {
                if (userId == -1 || ownedByUser(share->shareId))
                    inner += share->toXML(true);
            }
        } else if (userId != -1) {
            for (int id : userShares) {
                DapplinePtr share = m_db->getShare(id);
                if (share)
                    inner += share->toXML(true);
            }
        }
        return wrapShares(inner);
    };
    sendSyncResponse(
        msg, answerFromForm(msg, FormSource::Query, Fallback::OnPocoError, NO_SHARES, read));
}

void DapplinePlugin::onGetGuestShares(const void*, MessagePtr& msg) {
    // Only a signed-in guest has a list of his own; anyone else gets silence,
    // which the web front turns into a refusal.
    if (msg->authRole != Data::AuthKey::ROLE_GUEST)
        return;
    const int userId = API::GuestUserManager::getGuestUserID(msg->authUser);
    std::string inner;
    if (userId != -1) {
        std::list<int> shareIds;
        m_db->getSharesForUser(userId, shareIds);
        for (int id : shareIds) {
            DapplinePtr share = m_db->getShare(id);
            if (share)
                inner += share->toXML(true);
        }
    }
    sendSyncResponse(msg, wrapShares(inner));
}

void DapplinePlugin::onAddShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormReader add = [this](const Form& form) {
        const std::string location = Util::trim(form.get("sharelocation", ""));
        if (!isAllowedShareLocation(location))
            return std::string(NO_SHARES);
        Dappline share = shareFromForm(form, 0, location, Dappline("", "", "", "", 0, 1, 2, 1));
        return m_db->addShare(share) ? wrapShares(share.toXML(false)) : NO_SHARES;
    };
    sendSyncResponse(msg,
                     answerFromForm(msg, FormSource::Body, Fallback::OnAnyError, NO_SHARES, add));
}

void DapplinePlugin::onUpdateShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormReader update = [this](const Form& form) {
        const std::string location = Util::trim(form.get("sharelocation", ""));
        if (!isAllowedShareLocation(location))
            return std::string(NO_SHARES);
        const int shareId = std::atoi(Util::trim(form.get("shareid", "")).c_str());
        // The stored share supplies what the form leaves out.
        Dappline current("", "", "", "", 0, 0, 1, 0);
        if (DapplinePtr stored = m_db->getShare(shareId))
            current = *stored;
        Dappline share = shareFromForm(form, shareId, location, current);
        // A refused write (a name or location another share has) must not
        // read as if it had been stored.
        return m_db->updateShare(share) ? wrapShares(share.toXML(false)) : NO_SHARES;
    };
    sendSyncResponse(
        msg, answerFromForm(msg, FormSource::Body, Fallback::OnMissingField, NO_SHARES, update));
}

void DapplinePlugin::onDeleteShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    const FormAction remove = [this](const Form& form) {
        if (!form.has("shareid"))
            return false;
        DapplinePtr share = m_db->getShare(std::atoi(form.get("shareid").c_str()));
        if (!share)
            return false;
        // The short link would otherwise keep leading to a share that is gone.
        const std::string code = share->getURL(true);
        if (!code.empty())
            Orvane::ShortURLManager().deleteShortURL(code);
        return m_db->deleteShare(share->shareId);
    };
    sendSyncResponse(
        msg, resultFromForm(msg, FormSource::Query, Fallback::OnAnyError, "deleteshare", remove));
}

void DapplinePlugin::onQuickShare(const void*, MessagePtr& msg) {
    // The host itself shares at start-up (location 100) without credentials.
    if (msg->authLocation != Data::AuthKey::LOCATION_HOST) {
        if (msg->authRole == Data::AuthKey::ROLE_GUEST) {
            sendSyncResponse(msg, NO_SHARES);
            return;
        }
        if (!passOwnerGate(msg))
            return;
    }
    const FormReader share = [this](const Form& form) {
        // A location that holds a bare "%" is taken as the form decoded it.
        const std::string location =
            Util::convertPathToNative(Util::trim(decodedOrAsIs(form.get("sharelocation", ""))));
        const std::string viewMode = form.get("viewmode", "");
        if (!isAllowedShareLocation(location))
            return std::string(NO_SHARES);
        const std::string absolute = absolutePath(location);
        std::string name;
        if (DapplinePtr existing = m_db->getShareByLocation(absolute)) {
            return "<shares><meta><duplicate>1</duplicate></meta>" + existing->toXML(false) +
                   "</shares>";
        }
        if (!m_db->uniqueShareName(absolute, name))
            return std::string(NO_SHARES);
        Dappline added(name, absolute, viewMode, "", 0, 1, 2, 1);
        return m_db->addShare(added) ? wrapShares(added.toXML(false)) : NO_SHARES;
    };
    sendSyncResponse(
        msg, answerFromForm(msg, FormSource::Body, Fallback::OnMissingField, NO_SHARES, share));
}

}  // namespace Dappline
}  // namespace Orvane
