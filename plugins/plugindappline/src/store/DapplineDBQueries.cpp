// Queries of the share database on shares, permissions and history, and the
// XML lists of the owner's screens.
#include <Poco/Logger.h>
#include <Poco/Path.h>
#include <Poco/Random.h>
#include <Poco/Timestamp.h>
#include <tinyxml.h>

#include <set>

#include "orvane/GuestUserManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {
namespace {

using Misc::SqliteException;
using Misc::SqliteRow;
using Misc::SqliteRows;

const char* const ALL_SHARES = "select * FROM SHARE ORDER BY SHAREID DESC;";
const char* const NAME_COUNT = "SELECT COUNT(*) FROM \t\t\t\t\t\t\tSHARE WHERE SHARENAME='%q'";
const char* const WRITE_MODE =
    "select WRITEMODE FROM PERMISSION WHERE USERID='%d' \t\t\t\t\t  AND SHAREID='%d';";
const char* const PERMISSION_ROW =
    "SELECT * FROM PERMISSION WHERE USERID = '%d' and SHAREID = '%d';";
const char* const SHARE_PERMISSIONS = "select * FROM PERMISSION WHERE SHAREID='%d';";
const char* const NAME_TAKEN = "SELECT COUNT(*) FROM SHARE WHERE SHARENAME='%q' AND SHAREID<>'%d';";
const char* const LOCATION_TAKEN =
    "SELECT COUNT(*) FROM SHARE WHERE SHARELOCATION='%q' AND SHAREID<>'%d';";
// No share has this id: a new share is checked against all others.
const int NO_SHARE = -1;
// A quick share gives up rather than loop for ever on a broken database.
const int MAX_NAME_ATTEMPTS = 1000;

Poco::Logger& logger() {
    return Poco::Logger::get("Dappline");
}

void logError(const SqliteException& e) {
    logger().error(e.message());
}

std::string escape(const std::string& text) {
    std::string out;
    TiXmlBase::EncodeString(text, &out);
    return out;
}

std::string element(const std::string& name, const std::string& text) {
    return "<" + name + ">" + text + "</" + name + ">";
}

// The name of a file or folder without its extension, ignoring a trailing
// separator ("/data/Photos/" is Photos).
std::string baseNameOf(std::string location) {
    while (location.size() > 1 && location.back() == '/')
        location.pop_back();
    return Poco::Path(location).getBaseName();
}

// A stored column of a share and its value as SQL text.
struct ShareColumn {
    const char* name;
    std::string value;
};

std::vector<ShareColumn> shareColumns(const Dappline& share, const std::string& name) {
    using Misc::SqliteDB;
    return {{"SHARENAME", SqliteDB::format("'%q'", name.c_str())},
            {"SHARELOCATION", SqliteDB::format("'%q'", share.shareLocation.c_str())},
            {"VIEWMODE", SqliteDB::format("'%q'", share.viewMode.c_str())},
            {"VALIDITYPERIOD", SqliteDB::format("'%q'", share.validityPeriod.c_str())},
            {"SHARESIZELIMIT", "'" + std::to_string(share.shareSizeLimit) + "'"},
            {"VIEWSIZE", "'" + std::to_string(share.viewSize) + "'"},
            {"THUMBSIZE", "'" + std::to_string(share.thumbSize) + "'"},
            {"ALLOWPUBLICACCESS", "'" + std::to_string(share.allowPublicAccess) + "'"}};
}

std::string insertShareSQL(const std::vector<ShareColumn>& columns) {
    std::string names, values;
    for (const ShareColumn& column : columns) {
        names += (names.empty() ? "" : ", ") + std::string(column.name);
        values += (values.empty() ? "" : ", ") + column.value;
    }
    return "insert into SHARE (" + names + ") values (" + values + ");";
}

std::string updateShareSQL(const std::vector<ShareColumn>& columns, int shareId) {
    std::string assignments;
    for (const ShareColumn& column : columns)
        assignments +=
            (assignments.empty() ? "" : ", ") + std::string(column.name) + "=" + column.value;
    return "update SHARE SET " + assignments + " WHERE SHAREID='" + std::to_string(shareId) + "';";
}

}  // namespace

DapplinePtr DapplineDB::readShareRow(const SqliteRow& row) const {
    return DapplinePtr(new Dappline(
        row.getInt("SHAREID"), row.getString("SHARENAME"), row.getString("SHARELOCATION"),
        row.getString("VIEWMODE"), row.getString("VALIDITYPERIOD"), row.getInt64("SHARESIZELIMIT"),
        row.getInt("VIEWSIZE"), row.getInt("THUMBSIZE"), row.getInt("ALLOWPUBLICACCESS")));
}

bool DapplineDB::run(const std::string& sql) {
    try {
        execDML(sql);
        return true;
    } catch (const SqliteException& e) {
        logError(e);
        return false;
    }
}

// Every request looks its share up: the statements stay prepared.
DapplinePtr DapplineDB::firstShare(const std::string& sql, const std::string& value) {
    try {
        SqliteRows rows = execPrepared(sql, {value});
        if (!rows.empty())
            return readShareRow(rows.front());
    } catch (const SqliteException& e) {
        logError(e);
    }
    return DapplinePtr();
}

DapplinePtr DapplineDB::getShare(int shareId) {
    return firstShare("select * FROM SHARE WHERE SHAREID=?1;", std::to_string(shareId));
}

DapplinePtr DapplineDB::getShareByLocation(const std::string& location) {
    return firstShare("select * FROM SHARE WHERE SHARELOCATION=?1;", location);
}

// Every visitor's request looks its share up by name: the row read last is
// used again until anything at all is written through this connection.
DapplinePtr DapplineDB::getShareByName(const std::string& name) {
    const std::uint64_t before = changeCount();
    if (DapplinePtr kept = m_sharesByName.find(name, before))
        return kept;
    DapplinePtr share = firstShare("select * FROM SHARE WHERE SHARENAME=?1;", name);
    if (share)
        m_sharesByName.keep(name, before, *share);
    return share;
}

std::int64_t DapplineDB::getShareSizeLimit(const std::string& name) {
    DapplinePtr share = getShareByName(name);
    return share ? share->shareSizeLimit : 0;
}

bool DapplineDB::getSharesForLocation(const std::string& location, std::list<DapplinePtr>& shares) {
    try {
        SqliteRows rows = execQuery(
            format("select * FROM SHARE WHERE SHARELOCATION LIKE '%%%q%%';", location.c_str()));
        if (!rows.empty())
            shares.push_back(readShareRow(rows.front()));
        return true;
    } catch (const SqliteException& e) {
        logError(e);
        return false;
    }
}

std::vector<DapplinePtr> DapplineDB::getAllShares() {
    std::vector<DapplinePtr> shares;
    try {
        for (const auto& row : execQuery(ALL_SHARES))
            shares.push_back(readShareRow(row));
    } catch (const SqliteException& e) {
        logError(e);
    }
    return shares;
}

bool DapplineDB::addShare(Dappline& share) {
    return storeShare(share, true);
}

bool DapplineDB::updateShare(Dappline& share) {
    return storeShare(share, false);
}

// Held so that two writes at once cannot both pass the tests. Two shares with
// one name or one location would make the lookups by name and location
// return either of them.
bool DapplineDB::storeShare(Dappline& share, bool isNew) {
    Poco::Mutex::ScopedLock lock(m_mutex);
    try {
        const std::string name = Util::sanitizeString(share.shareName, false);
        const int other = isNew ? NO_SHARE : share.shareId;
        if (execScalar(format(NAME_TAKEN, name.c_str(), other)) > 0 ||
            execScalar(format(LOCATION_TAKEN, share.shareLocation.c_str(), other)) > 0)
            return false;
        const std::vector<ShareColumn> columns = shareColumns(share, name);
        execDML(isNew ? insertShareSQL(columns) : updateShareSQL(columns, share.shareId));
        if (isNew)
            share.shareId = static_cast<std::int32_t>(GetLastRowId());
        return true;
    } catch (const SqliteException& e) {
        logError(e);
        return false;
    }
}

bool DapplineDB::deleteShare(int shareId) {
    if (!deleteUsersForShare(shareId))
        return false;
    return run(format("DELETE FROM SHARE WHERE SHAREID='%d';", shareId));
}

std::string DapplineDB::getValidShareName(const std::string& name) {
    std::string valid;
    for (char c : name)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            valid += c;
    return valid;
}

bool DapplineDB::uniqueShareName(const std::string& location, std::string& name) {
    const std::string base = getValidShareName(baseNameOf(location));
    Poco::Random random;
    random.seed(static_cast<Poco::UInt32>(Poco::Timestamp().epochMicroseconds()));
    try {
        for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
            std::string candidate = base;
            if (attempt > 0 || candidate.empty())
                candidate += std::to_string(random.next());
            const std::string clean = Util::sanitizeString(candidate, false);
            if (execScalar(format(NAME_COUNT, clean.c_str())) == 0) {
                name = candidate;
                return true;
            }
        }
        logger().error("No free share name found for " + location);
    } catch (const SqliteException& e) {
        logError(e);
    }
    return false;
}

bool DapplineDB::addUserToShare(int shareId, int userId, int writeMode) {
    return run(
        format("insert into PERMISSION                       (SHAREID, USERID,WRITEMODE) "
               "values                       ('%d', '%d', '%d');",
               shareId, userId, writeMode));
}

bool DapplineDB::deleteUserFromShare(int shareId, int userId) {
    return run(
        format("DELETE FROM PERMISSION WHERE SHAREID='%d' AND USERID='%d';", shareId, userId));
}

bool DapplineDB::deleteUsersForShare(int shareId) {
    return run(format("DELETE FROM PERMISSION WHERE SHAREID='%d';", shareId));
}

bool DapplineDB::setUserAccessForShare(int userId, int shareId, bool write) {
    return run(
        format("UPDATE PERMISSION SET WRITEMODE='%d' WHERE USERID='%d'\t\t\t\t\t  AND "
               "SHAREID='%d';",
               write ? 1 : 0, userId, shareId));
}

bool DapplineDB::hasWriteAccessForShare(int userId, int shareId) {
    try {
        SqliteRows rows = execQuery(format(WRITE_MODE, userId, shareId));
        return !rows.empty() && rows.front().getInt("WRITEMODE") == 1;
    } catch (const SqliteException& e) {
        logError(e);
        return false;
    }
}

bool DapplineDB::getSharesForUser(int userId, std::list<int>& shareIds) {
    try {
        for (const auto& row :
             execQuery(format("SELECT * FROM PERMISSION WHERE USERID = '%d';", userId)))
            shareIds.push_back(row.getInt("SHAREID"));
        return true;
    } catch (const SqliteException& e) {
        logError(e);
        return false;
    }
}

bool DapplineDB::checkCredentials(int shareId, int userId) {
    if (userId <= 0)
        return false;
    try {
        return !execQuery(format(PERMISSION_ROW, userId, shareId)).empty();
    } catch (const SqliteException& e) {
        logError(e);
        return false;
    }
}

bool DapplineDB::checkCredentials(int shareId, const std::string& credentials, int& userId) {
    const std::string::size_type colon = credentials.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string user = credentials.substr(0, colon);
    const std::string password = Util::trim(credentials.substr(colon + 1));
    if (user.empty() || password.empty())
        return false;
    const int id = API::GuestUserManager::getGuestUserID(user, password);
    if (id <= 0)
        return false;
    try {
        SqliteRows rows = execQuery(format(PERMISSION_ROW, id, shareId));
        if (rows.empty())
            return false;
        userId = rows.front().getInt("USERID");
        return true;
    } catch (const SqliteException& e) {
        logError(e);
        return false;
    }
}

std::string DapplineDB::getUserAccessForShare(int userId, int shareId) {
    if (userId == 0 || shareId == 0)
        return "<user></user>";
    std::string writeMode = "0";
    try {
        SqliteRows rows = execQuery(format(WRITE_MODE, userId, shareId));
        if (!rows.empty())
            writeMode = rows.front().getString("WRITEMODE");
    } catch (const SqliteException& e) {
        logError(e);
        writeMode = "0";
    }
    return "<user><access><writemode>" + escape(writeMode) + "</writemode></access></user>";
}

std::string DapplineDB::getSharesXML() {
    std::string xml = "<shares>";
    for (const DapplinePtr& share : getAllShares())
        xml += share->toXML(false);
    return xml + "</shares>";
}

std::string DapplineDB::getUsersForShareXML(int shareId) {
    std::string xml = "<users>";
    try {
        for (const auto& row : execQuery(format(SHARE_PERMISSIONS, shareId))) {
            auto user = API::GuestUserManager::guestUserGet(row.getInt("USERID"));
            if (!user)
                continue;
            xml += "<user>" + element("userid", std::to_string(user->getId())) +
                   element("username", escape(user->getName())) + "<read>1</read>" +
                   element("write", escape(row.getString("WRITEMODE"))) + "</user>";
        }
    } catch (const SqliteException& e) {
        logError(e);
    }
    return xml + "</users>";
}

std::string DapplineDB::getAddUsersForShareXML(int shareId) {
    std::set<int> granted;
    try {
        for (const auto& row : execQuery(format(SHARE_PERMISSIONS, shareId)))
            granted.insert(row.getInt("USERID"));
    } catch (const SqliteException& e) {
        logError(e);
        return "<users></users>";
    }
    API::GuestUserManager::GuestUserList users;
    API::GuestUserManager::guestUserCollectionGet(users);
    std::string xml = "<users>";
    for (const auto& user : users)
        if (granted.count(user->getId()) == 0)
            xml += user->toXML();
    return xml + "</users>";
}

bool DapplineDB::isLocationSharedPublic(const std::string& path, int& shareId) {
    for (const DapplinePtr& share : getAllShares()) {
        if (share->isExpired())
            continue;
        if (!Util::isPathWithinResolved(path, share->shareLocation))
            continue;
        if (share->allowPublicAccess != 1)
            continue;
        shareId = share->shareId;
        return true;
    }
    return false;
}

}  // namespace Dappline
}  // namespace Orvane
