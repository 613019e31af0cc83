// The owner's share list and the operations that create, change and remove
// shares, plus the guest user's own list of shares.
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
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

int intParam(const Poco::Net::HTMLForm& form, const std::string& name, int fallback) {
    return form.has(name) ? std::atoi(form.get(name).c_str()) : fallback;
}

std::int64_t int64Param(const Poco::Net::HTMLForm& form, const std::string& name,
                        std::int64_t fallback) {
    return form.has(name) ? std::atoll(form.get(name).c_str()) : fallback;
}

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

std::string wrapShares(const std::string& inner) {
    return "<shares>" + inner + "</shares>";
}

// Percent-decoding a text that holds a bare "%" fails; such a location is
// taken as the form decoded it, so a folder named "50% off" can be shared.
std::string decodeLocation(const std::string& text) {
    try {
        std::string decoded;
        Poco::URI::decode(text, decoded);
        return decoded;
    } catch (const Poco::SyntaxException&) {
        return text;
    }
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
    std::string result = NO_SHARES;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
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
        result = wrapShares(inner);
    } catch (const Poco::Exception&) {
        result = NO_SHARES;
    }
    sendSyncResponse(msg, result);
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
    std::string result = NO_SHARES;
    try {
        Poco::Net::HTMLForm form;
        loadForm(bodyText(msg), form);
        const std::string location = Util::trim(form.get("sharelocation", ""));
        if (isShareablePath(location) && Util::isAllowedPath(location, false, true)) {
            Dappline share(Util::trim(form.get("sharename", "")), absolutePath(location),
                           form.get("viewmode", ""), form.get("validityperiod", ""),
                           int64Param(form, "sharesizelimit", 0), intParam(form, "viewsize", 1),
                           intParam(form, "thumbsize", 2), intParam(form, "allowpublicaccess", 1));
            if (m_db->addShare(share))
                result = wrapShares(share.toXML(false));
        }
    } catch (...) {
        result = NO_SHARES;
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onUpdateShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result = NO_SHARES;
    try {
        Poco::Net::HTMLForm form;
        loadForm(bodyText(msg), form);
        const std::string location = Util::trim(form.get("sharelocation", ""));
        if (isShareablePath(location)) {
            const int shareId = std::atoi(Util::trim(form.get("shareid", "")).c_str());
            // The stored share supplies what the form leaves out.
            Dappline current("", "", "", "", 0, 0, 1, 0);
            if (DapplinePtr stored = m_db->getShare(shareId))
                current = *stored;
            Dappline share(shareId, Util::trim(form.get("sharename", "")), absolutePath(location),
                           form.get("viewmode", ""),
                           form.get("validityperiod", current.validityPeriod),
                           int64Param(form, "sharesizelimit", current.shareSizeLimit),
                           intParam(form, "viewsize", current.viewSize),
                           intParam(form, "thumbsize", current.thumbSize),
                           intParam(form, "allowpublicaccess", current.allowPublicAccess));
            // A refused write (a name or location another share has) must
            // not read as if it had been stored.
            if (m_db->updateShare(share))
                result = wrapShares(share.toXML(false));
        }
    } catch (const Poco::NotFoundException&) {
        result = NO_SHARES;
    }
    sendSyncResponse(msg, result);
}

void DapplinePlugin::onDeleteShare(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    std::string result = Util::HTTP::getXMLResult("deleteshare", false, "");
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        if (form.has("shareid")) {
            DapplinePtr share = m_db->getShare(std::atoi(form.get("shareid").c_str()));
            if (share) {
                // The short link would otherwise keep leading to a share that
                // is gone.
                const std::string code = share->getURL(true);
                if (!code.empty())
                    Orvane::ShortURLManager().deleteShortURL(code);
                if (m_db->deleteShare(share->shareId)) {
                    result = Util::HTTP::getXMLResult("deleteshare", true, "");
                }
            }
        }
    } catch (...) {
        result = Util::HTTP::getXMLResult("deleteshare", false, "");
    }
    sendSyncResponse(msg, result);
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
    std::string result = NO_SHARES;
    try {
        Poco::Net::HTMLForm form;
        loadForm(bodyText(msg), form);
        const std::string location =
            Util::convertPathToNative(Util::trim(decodeLocation(form.get("sharelocation", ""))));
        const std::string viewMode = form.get("viewmode", "");
        if (isShareablePath(location) && Util::isAllowedPath(location, false, true)) {
            const std::string absolute = absolutePath(location);
            std::string name;
            if (DapplinePtr existing = m_db->getShareByLocation(absolute)) {
                result = "<shares><meta><duplicate>1</duplicate></meta>" + existing->toXML(false) +
                         "</shares>";
            } else if (m_db->uniqueShareName(absolute, name)) {
                Dappline share(name, absolute, viewMode, "", 0, 1, 2, 1);
                if (m_db->addShare(share))
                    result = wrapShares(share.toXML(false));
            }
        }
    } catch (const Poco::NotFoundException&) {
        result = NO_SHARES;
    }
    sendSyncResponse(msg, result);
}

}  // namespace Dappline
}  // namespace Orvane
