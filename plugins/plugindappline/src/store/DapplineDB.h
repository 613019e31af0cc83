// The plug-in's database (dapplinepro.db): schema and upgrades, settings,
// legacy users, and every query on shares, permissions and history.
// One connection in serialized mode; settings, version and legacy-user calls
// hold the base class's recursive mutex, the rest rely on SQLite. History
// rows are queued and written in batches by a thread of their own (see
// HistoryWriter.h); every read of the history writes the queue first, and
// closing or destroying the database does too.
// Every method catches database errors, logs them on "Dappline" and returns
// its failure value.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "core/Dappline.h"
#include "core/DapplineUser.h"
#include "orvane/SqliteDB.h"
#include "store/DapplineHistory.h"
#include "store/HistoryWriter.h"
#include "store/ShareCache.h"

namespace Orvane {
namespace Dappline {

class DapplineDB : public Misc::SqliteDB {
public:
    DapplineDB();
    // Writes the queued history rows before the connection goes.
    ~DapplineDB() override;

    bool initDB() override;
    // As the base class's, after the queued history rows are written.
    void closeDB();
    bool userTableFound = false;

    // Schema version and settings.
    int doVersionUpdates();
    int getVersionInfo(std::string& status, std::string& notes);
    void setVersionInfo(int version, const std::string& status, const std::string& notes);
    bool doesConfigExist(const std::string& key, const std::string& name);
    std::string getConfigValue(const std::string& key, const std::string& name,
                               const std::string& defaultValue);
    void setConfigValue(const std::string& key, const std::string& name, const std::string& value);

    // Legacy users.
    void dropUserTable();
    void updateUserIdsFromCore(int oldId, int newId);
    void userCollectionGet(std::list<DapplineUserPtr>& users);

    // Shares.
    DapplinePtr getShare(int shareId);
    DapplinePtr getShareByLocation(const std::string& location);
    DapplinePtr getShareByName(const std::string& name);
    std::int64_t getShareSizeLimit(const std::string& name);
    bool getSharesForLocation(const std::string& location, std::list<DapplinePtr>& shares);
    bool addShare(Dappline& share);
    // Refuses (false, nothing written) a name or location another share has.
    bool updateShare(Dappline& share);
    bool deleteShare(int shareId);
    bool uniqueShareName(const std::string& location, std::string& name);
    static std::string getValidShareName(const std::string& name);
    // Every share, newest first (the walk of the public and explorer tests).
    std::vector<DapplinePtr> getAllShares();

    // Permissions.
    bool addUserToShare(int shareId, int userId, int writeMode);
    bool deleteUserFromShare(int shareId, int userId);
    bool deleteUsersForShare(int shareId);
    bool setUserAccessForShare(int userId, int shareId, bool write);
    bool hasWriteAccessForShare(int userId, int shareId);
    bool getSharesForUser(int userId, std::list<int>& shareIds);
    bool checkCredentials(int shareId, int userId);
    bool checkCredentials(int shareId, const std::string& credentials, int& userId);
    std::string getUserAccessForShare(int userId, int shareId);

    // History. addHistory queues the row (false only when the database is
    // closed); flushHistory writes the queue now; stopHistory also ends the
    // writer's thread (a later row starts it again).
    bool addHistory(DapplineHistory& entry);
    bool flushHistory();
    void stopHistory();
    bool clearHistory();
    std::string getHistoryXML(int start, int limit, int shareId, const std::string& type);
    // Keeps at most maxRows rows and none older than maxDays days, the
    // oldest going first; 0 turns a limit off. Returns the rows removed.
    std::int64_t pruneHistory(std::int64_t maxRows, int maxDays);

    // Owner lists.
    std::string getSharesXML();
    std::string getUsersForShareXML(int shareId);
    std::string getAddUsersForShareXML(int shareId);
    bool isLocationSharedPublic(const std::string& path, int& shareId);

private:
    // Runs one statement; false (logged) when the database refuses it.
    bool run(const std::string& sql);
    bool writeHistoryRows(const std::vector<DapplineHistory>& rows);
    void createHistoryIndexes();
    // Adds the share (isNew: its new id is set) or rewrites the stored one;
    // false when another share has its name or location.
    bool storeShare(Dappline& share, bool isNew);
    DapplinePtr readShareRow(const Misc::SqliteRow& row) const;
    DapplinePtr firstShare(const std::string& sql, const std::string& value);

    HistoryWriter m_history;
    ShareCache m_sharesByName;
};

}  // namespace Dappline
}  // namespace Orvane
