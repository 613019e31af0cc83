// The transfer history of the share database: rows queued and written in
// batches, the owner's page of them, and the retention that keeps the table
// from growing for ever.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Logger.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>

#include <algorithm>

#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {
namespace {

using Misc::SqliteException;

// Rows a single insert carries, and rows a single prune removes: each
// statement holds the connection, and requests wait behind it.
const std::size_t ROWS_PER_INSERT = 1000;
const std::int64_t ROWS_PER_DELETE = 10000;

const char* const INSERT_HISTORY =
    "insert into HISTORY (SHAREID, SHARELOCATION, DATE, FILESIZE, USERID, USERNAME, ISUPLOAD) "
    "values (?1, ?2, ?3, ?4, ?5, ?6, ?7);";
// The owner's page reads newest first, of all shares or one, of one kind or
// both; the prune removes the oldest.
const char* const HISTORY_INDEXES[] = {
    "CREATE INDEX IF NOT EXISTS HISTORY_BY_DATE ON HISTORY (DATE);",
    "CREATE INDEX IF NOT EXISTS HISTORY_BY_KIND ON HISTORY (ISUPLOAD, DATE);",
    "CREATE INDEX IF NOT EXISTS HISTORY_BY_SHARE ON HISTORY (SHAREID, ISUPLOAD, DATE);"};

Poco::Logger& logger() {
    return Poco::Logger::get("Dappline");
}

// The row's values as the text literals they always were stored from: the
// columns' types turn the numbers into integers alike, and a text ends at a
// NUL as it did in a formatted statement.
std::vector<std::string> valuesOf(const DapplineHistory& entry) {
    return {std::to_string(entry.shareId),   std::string(entry.location.c_str()),
            std::string(entry.date.c_str()), std::to_string(entry.fileSize),
            std::to_string(entry.userId),    std::string(entry.userName.c_str()),
            entry.isUpload ? "1" : "0"};
}

std::string daysAgo(int days) {
    return Poco::DateTimeFormatter::format(Poco::Timestamp() - Poco::Timespan(days, 0, 0, 0, 0),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

// Removes the count oldest rows of those the where clause picks, in slices,
// so that requests waiting for the connection are held up by one slice at
// most.
std::int64_t deleteOldest(Misc::SqliteDB& db, std::int64_t count, const std::string& where) {
    std::int64_t removed = 0;
    while (removed < count) {
        const std::int64_t slice = std::min(count - removed, ROWS_PER_DELETE);
        db.execDML(Misc::SqliteDB::format(
            "DELETE FROM HISTORY WHERE HISTORYID IN (SELECT HISTORYID FROM HISTORY %s ORDER BY "
            "DATE, HISTORYID LIMIT %lld);",
            where.c_str(), static_cast<long long>(slice)));
        removed += slice;
    }
    return removed;
}

}  // namespace

DapplineDB::DapplineDB()
    : m_history(
          [this](const std::vector<DapplineHistory>& rows) { return writeHistoryRows(rows); }) {}

DapplineDB::~DapplineDB() {
    m_history.stop();
}

void DapplineDB::closeDB() {
    m_history.stop();
    Misc::SqliteDB::closeDB();
}

// One transaction per thousand rows, none joined by another thread's
// statement half way; the insert stays prepared rather than a statement of
// a thousand rows being compiled each second.
bool DapplineDB::writeHistoryRows(const std::vector<DapplineHistory>& rows) {
    try {
        std::vector<std::vector<std::string>> values;
        for (std::size_t first = 0; first < rows.size(); first += ROWS_PER_INSERT) {
            const std::size_t end = std::min(rows.size(), first + ROWS_PER_INSERT);
            values.clear();
            for (std::size_t i = first; i < end; ++i)
                values.push_back(valuesOf(rows[i]));
            execPreparedEach(INSERT_HISTORY, values);
        }
        return true;
    } catch (const SqliteException& e) {
        logger().error("Writing " + std::to_string(rows.size()) + " history rows: " + e.message());
        return false;
    }
}

bool DapplineDB::addHistory(DapplineHistory& entry) {
    if (!isOpen())
        return false;
    m_history.add(entry);
    return true;
}

bool DapplineDB::flushHistory() {
    return m_history.flush();
}

void DapplineDB::stopHistory() {
    m_history.stop();
}

bool DapplineDB::clearHistory() {
    flushHistory();
    return run("DELETE FROM HISTORY;");
}

// A file whose tables were taken as current without their upgrades may lack
// ISUPLOAD: its history then stays as it was, unindexed, rather than the
// start logging an error for it.
void DapplineDB::createHistoryIndexes() {
    try {
        if (execScalar("SELECT COUNT(*) FROM pragma_table_info('HISTORY') WHERE "
                       "name='ISUPLOAD';") == 0)
            return;
    } catch (const SqliteException& e) {
        logger().error(e.message());
        return;
    }
    for (const char* sql : HISTORY_INDEXES)
        run(sql);
}

std::string DapplineDB::getHistoryXML(int start, int limit, int shareId, const std::string& type) {
    flushHistory();
    const std::string limitClause = "LIMIT " + std::to_string(start) + ", " + std::to_string(limit);
    std::string where = "WHERE 1=1 ";
    if (shareId != -1)
        where += "AND SHAREID='" + std::to_string(shareId) + "' ";
    if (type == "DL")
        where += "AND ISUPLOAD=0";
    if (type == "UL")
        where += "AND ISUPLOAD=1";
    std::string xml = "<histories>";
    try {
        const std::int64_t total =
            execScalar(format("select COUNT(*) FROM HISTORY %s;", where.c_str()));
        xml += "<meta><totalrecords>" + std::to_string(total) + "</totalrecords></meta>";
        // Rows of one second come newest first too.
        for (const auto& row :
             execQuery(format("select * FROM HISTORY %s ORDER BY DATE DESC, HISTORYID DESC %s;",
                              where.c_str(), limitClause.c_str())))
            xml += DapplineHistory(row.getInt("SHAREID"), row.getString("SHARELOCATION"),
                                   row.getInt64("FILESIZE"), row.getString("DATE"),
                                   row.getInt("USERID"), row.getString("USERNAME"),
                                   row.getInt("ISUPLOAD") != 0)
                       .toXML();
    } catch (const SqliteException& e) {
        logger().error(e.message());
    }
    return xml + "</histories>";
}

std::int64_t DapplineDB::pruneHistory(std::int64_t maxRows, int maxDays) {
    flushHistory();
    std::int64_t removed = 0;
    try {
        if (maxDays > 0) {
            const std::string where = format("WHERE DATE < '%q'", daysAgo(maxDays).c_str());
            removed += deleteOldest(
                *this, execScalar("SELECT COUNT(*) FROM HISTORY " + where + ";"), where);
        }
        if (maxRows > 0)
            removed +=
                deleteOldest(*this, execScalar("SELECT COUNT(*) FROM HISTORY;") - maxRows, "");
    } catch (const SqliteException& e) {
        logger().error("Pruning the history: " + e.message());
    }
    return removed;
}

}  // namespace Dappline
}  // namespace Orvane
