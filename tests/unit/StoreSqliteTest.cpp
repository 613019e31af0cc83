// The SQLite wrapper of the host library on real files.
#include <Poco/File.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "StoreTestSupport.h"
#include "TestSupport.h"
#include "orvane/SqliteDB.h"

using Orvane::Misc::SqliteDB;
using Orvane::Misc::SqliteException;
using Orvane::Misc::SqliteRows;

namespace {

class CountingDB : public SqliteDB {
public:
    bool initDB() override {
        ++initCalls;
        execDML(
            "CREATE TABLE IF NOT EXISTS T (ID INTEGER PRIMARY KEY AUTOINCREMENT, NAME TEXT, "
            "SIZE INTEGER);");
        return initResult;
    }
    int initCalls = 0;
    bool initResult = true;
};

class StoreSqliteTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.openDB(temp.path() + "/t.db", "")); }
    TestSupport::TempDir temp;
    CountingDB db;
};

TEST_F(StoreSqliteTest, OpenCreatesTheFileAndRunsInitOnce) {
    EXPECT_EQ(1, db.initCalls);
    EXPECT_TRUE(db.isOpen());
    EXPECT_TRUE(Poco::File(temp.path() + "/t.db").exists());
    EXPECT_TRUE(db.TableExists("T"));
    EXPECT_TRUE(db.TableExists("t")) << "table names are not case-sensitive in SQLite";
    EXPECT_FALSE(db.TableExists("U"));
    EXPECT_TRUE(db.TableExists("T", "main"));
}

TEST_F(StoreSqliteTest, OpenReportsFailures) {
    CountingDB other;
    EXPECT_FALSE(other.openDB(temp.path() + "/missing/dir/x.db", ""));
    EXPECT_FALSE(other.isOpen());
    EXPECT_FALSE(other.openDB(temp.path() + "/k.db", "secret")) << "keys are not supported";
    other.initResult = false;
    EXPECT_FALSE(other.openDB(temp.path() + "/i.db", ""));
    EXPECT_EQ(1, other.initCalls);
}

TEST_F(StoreSqliteTest, FormatFollowsSqlitePrintf) {
    EXPECT_EQ("'it''s'", SqliteDB::format("'%q'", "it's"));
    EXPECT_EQ("-7 9000000000 50% raw'",
              SqliteDB::format("%d %lld 50%% %s", -7, 9000000000LL, "raw'"));
    EXPECT_EQ("NULL 'a''b'", SqliteDB::format("%Q %Q", nullptr, "a'b"));
}

TEST_F(StoreSqliteTest, QuotedTextRoundTripsUnchanged) {
    const std::string tricky = "O'Brien; DROP TABLE T; -- \"x\" %d";
    db.execDML(SqliteDB::format("INSERT INTO T (NAME, SIZE) VALUES ('%q', %lld);", tricky.c_str(),
                                5000000000LL));
    SqliteRows rows = db.execQuery("SELECT * FROM T;");
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(tricky, rows[0].getString("NAME"));
    EXPECT_EQ(5000000000LL, rows[0].getInt64("SIZE"));
    EXPECT_TRUE(db.TableExists("T"));
}

TEST_F(StoreSqliteTest, RowsReadByColumnNameWithNullAndMissingDefaults) {
    db.execDML("INSERT INTO T (NAME, SIZE) VALUES (NULL, NULL);");
    SqliteRows rows = db.execQuery("SELECT ID, NAME, SIZE FROM T;");
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(1, rows[0].getInt("ID"));
    EXPECT_EQ("", rows[0].getString("NAME"));
    EXPECT_TRUE(rows[0].isNull("NAME"));
    EXPECT_EQ(0, rows[0].getInt("SIZE"));
    EXPECT_EQ("", rows[0].getString("NOSUCH"));
    EXPECT_EQ(0, rows[0].getInt64("NOSUCH"));
    EXPECT_FALSE(rows[0].hasColumn("NOSUCH"));
    EXPECT_TRUE(rows[0].hasColumn("SIZE"));
}

TEST_F(StoreSqliteTest, ScalarAndLastRowId) {
    EXPECT_EQ(0, db.execScalar("SELECT COUNT(*) FROM T;"));
    EXPECT_EQ(0, db.execScalar("SELECT ID FROM T WHERE ID=99;")) << "no row reads 0";
    db.execDML("INSERT INTO T (NAME) VALUES ('a');");
    db.execDML("INSERT INTO T (NAME) VALUES ('b');");
    EXPECT_EQ(2, db.GetLastRowId());
    EXPECT_EQ(2, db.execScalar("SELECT COUNT(*) FROM T;"));
}

TEST_F(StoreSqliteTest, ErrorsCarrySqliteMessage) {
    try {
        db.execQuery("SELECT * FROM NOSUCHTABLE;");
        FAIL() << "no exception";
    } catch (const SqliteException& e) {
        EXPECT_NE(std::string::npos, e.message().find("no such table: NOSUCHTABLE")) << e.message();
    }
    try {
        db.execDML("INSERT INTO NOWHERE VALUES (1);");
        FAIL() << "no exception";
    } catch (const SqliteException& e) {
        EXPECT_NE(std::string::npos, e.message().find("no such table")) << e.message();
    }
    EXPECT_THROW(db.execScalar("SELEC 1;"), SqliteException);
    SqliteDB closed;
    EXPECT_THROW(closed.execQuery("SELECT 1;"), SqliteException);
}

// Callers keep rows read while the count stays put (the plug-in's share
// cache): a write that leaves it still serves them stale rows, a read that
// moves it only costs a lookup.
TEST_F(StoreSqliteTest, ChangeCountMovesOnWritesOnly) {
    const char* const insert = "INSERT INTO T (NAME) VALUES (?1);";
    db.execDML("INSERT INTO T (NAME) VALUES ('a');");
    std::uint64_t seen = db.changeCount();
    db.execQuery("SELECT * FROM T;");
    db.execScalar("SELECT COUNT(*) FROM T;");
    db.execPrepared("SELECT * FROM T WHERE NAME=?1;", {"a"});
    EXPECT_EQ(seen, db.changeCount()) << "reads";

    const auto moves = [&](const char* what) {
        EXPECT_GT(db.changeCount(), seen) << what;
        seen = db.changeCount();
    };
    db.execDML("UPDATE T SET SIZE=1;");
    moves("execDML");
    db.execPrepared(insert, {"b"});
    moves("prepared insert");
    db.execPrepared(insert, {"c"});
    moves("the same prepared insert again");
    db.execPreparedEach(insert, {{"d"}});
    moves("execPreparedEach");
    // The first statement is written before the second fails.
    EXPECT_THROW(db.execDML("DELETE FROM T WHERE NAME='a'; INSERT INTO NOWHERE VALUES (1);"),
                 SqliteException);
    EXPECT_EQ(0, db.execScalar("SELECT COUNT(*) FROM T WHERE NAME='a';"));
    moves("a failing execDML that wrote");
}

TEST_F(StoreSqliteTest, PreparedEachWritesAllSetsOrNone) {
    const std::string insert = "INSERT INTO T (ID, NAME) VALUES (?1, ?2);";
    EXPECT_THROW(db.execPreparedEach(insert, {{"1", "a"}, {"2", "b"}, {"1", "again"}}),
                 SqliteException);
    EXPECT_EQ(0, db.execScalar("SELECT COUNT(*) FROM T;")) << "the sets before the failing one";

    db.execPreparedEach(insert, {{"1", "a"}, {"2", "it's"}, {"3", "c"}});
    // Read on a connection of its own: the failed run must not have left a
    // transaction open that keeps this one from being committed.
    EXPECT_EQ(std::vector<std::vector<std::string>>({{"1", "a"}, {"2", "it's"}, {"3", "c"}}),
              StoreTest::querySql(temp.path() + "/t.db", "SELECT ID, NAME FROM T ORDER BY ID;"));
}

// Each thread must get the id of its own insert, even with the others
// inserting on the same connection at the same time.
TEST_F(StoreSqliteTest, ConcurrentInsertsEachSeeTheirOwnRowId) {
    const int threads = 4, perThread = 50;
    std::atomic<int> mismatches(0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const std::string name = std::to_string(t) + "-" + std::to_string(i);
                db.execDML(SqliteDB::format("INSERT INTO T (NAME) VALUES ('%q');", name.c_str()));
                const std::int64_t id = db.GetLastRowId();
                SqliteRows rows = db.execQuery(
                    SqliteDB::format("SELECT NAME FROM T WHERE ID=%lld;", (long long)id));
                if (rows.empty() || rows[0].getString("NAME") != name)
                    ++mismatches;
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(0, mismatches.load());
    EXPECT_EQ(threads * perThread, db.execScalar("SELECT COUNT(*) FROM T;"));
}

}  // namespace
