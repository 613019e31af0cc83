// Helpers of the share store suites: a fixture with a temporary loaded
// profile, direct SQLite access for building and inspecting files the way
// older releases left them, and a capture of log lines. Single-threaded use.
#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "orvane/ProfileManager.h"

namespace StoreTest {

// Runs statements on a file with the sqlite3 library itself; fails the test
// on an error.
inline void runSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db)) << path;
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(SQLITE_OK, rc) << message << " in " << sql;
}

// Every row of a query, each row as its columns' texts ("NULL" for NULL).
inline std::vector<std::vector<std::string>> querySql(const std::string& path,
                                                      const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        ADD_FAILURE() << "cannot open " << path;
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
        sqlite3_close(db);
        return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

inline std::string scalarSql(const std::string& path, const std::string& sql) {
    auto rows = querySql(path, sql);
    return rows.empty() || rows.front().empty() ? std::string("<no row>") : rows.front().front();
}

inline std::vector<std::string> tableNames(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& row :
         querySql(path,
                  "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE "
                  "'sqlite_%' ORDER BY name;"))
        names.push_back(row.front());
    return names;
}

inline std::vector<std::string> columnNames(const std::string& path, const std::string& table) {
    std::vector<std::string> names;
    for (const auto& row : querySql(path, "PRAGMA table_info(" + table + ");"))
        names.push_back(row.at(1));
    return names;
}

// Keeps the texts a logger writes while it is attached.
class LogCapture : public Poco::Channel {
public:
    void log(const Poco::Message& msg) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(msg.getText());
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    std::size_t countOf(const std::string& text) {
        std::size_t n = 0;
        for (const auto& line : lines())
            if (line == text)
                ++n;
        return n;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Attaches a capture to a named logger for the life of the object.
class ScopedLogCapture {
public:
    explicit ScopedLogCapture(const std::string& name)
        : m_logger(Poco::Logger::get(name)), m_capture(new LogCapture) {
        m_oldChannel = m_logger.getChannel();
        m_oldLevel = m_logger.getLevel();
        m_logger.setChannel(m_capture);
        m_logger.setLevel(Poco::Message::PRIO_TRACE);
    }
    ~ScopedLogCapture() {
        m_logger.setChannel(m_oldChannel);
        m_logger.setLevel(m_oldLevel);
    }
    LogCapture& operator*() { return *m_capture; }
    LogCapture* operator->() { return m_capture.get(); }

private:
    Poco::Logger& m_logger;
    Poco::AutoPtr<LogCapture> m_capture;
    Poco::AutoPtr<Poco::Channel> m_oldChannel;
    int m_oldLevel;
};

// A temporary profile loaded for each test, as the host loads one at start.
class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_temp.reset(new TestSupport::TempDir());
        m_profileDir = m_temp->path() + "/profile";
        Orvane::API::ProfileManager::loadProfile(m_profileDir);
    }
    void TearDown() override {
        Orvane::API::ProfileManager::unloadProfile();
        m_temp.reset();
    }

    std::unique_ptr<TestSupport::TempDir> m_temp;
    std::string m_profileDir;
};

}  // namespace StoreTest
