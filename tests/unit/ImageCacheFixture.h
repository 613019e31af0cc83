// The real plug-in on a temporary profile, with shares of picture folders,
// the cache run's progress and the host's cache database of a folder at
// hand. Each test ends by dropping any run it left, so that no run outlives
// its profile. Waits poll with a bound.
#pragma once

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <Poco/ThreadPool.h>
#include <Poco/URI.h>
#include <sqlite3.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <utility>

#include "ImageCacheSupport.h"
#include "TestSupport.h"
#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "orvane/CacheDB.h"
#include "store/DapplineDB.h"

namespace ImageCacheSupport {

class ImageCacheFixture : public TestSupport::PluginFixture {
protected:
    void TearDown() override {
        if (m_plugin)
            deliver(ownerRequest("CANCELSYNC"));
        PluginFixture::TearDown();
    }

    int addShare(const std::string& name, const std::string& folder, int thumbSize = 1,
                 int viewSize = 0, int publicAccess = 1) {
        Orvane::Dappline::Dappline share(name, folder, "GALLERY", "", 0, viewSize, thumbSize,
                                         publicAccess);
        EXPECT_TRUE(m_plugin->database()->addShare(share)) << name;
        return share.shareId;
    }

    static std::string encoded(const std::string& text) {
        std::string out;
        Poco::URI::encode(text, "&=+#?/", out);
        return out;
    }

    std::string startCaching(const std::string& shareName) {
        return call(ownerRequest("startcaching", "sharename=" + encoded(shareName))).body;
    }

    // total, completed
    std::pair<int, int> status() {
        const std::string body = call(ownerRequest("getcachestatus")).body;
        std::smatch m;
        static const std::regex pattern(
            "<total>(-?[0-9]+)</total><completed>(-?[0-9]+)</completed>");
        if (!std::regex_search(body, m, pattern)) {
            ADD_FAILURE() << "no status in " << body;
            return {-1, -1};
        }
        return {std::stoi(m[1]), std::stoi(m[2])};
    }

    // Until the run's reports have all been counted. The run has not ended
    // then: its thread still has to finish (see waitUntilRunEnded).
    bool waitUntilCompleted(int total) {
        return pollUntil([&] { return status().second >= total; });
    }

    // Until the run has ended and its thread of Poco's default pool (the only
    // work there in these tests) is free again; only then does a new start
    // replace the run instead of finding it still running.
    static bool waitUntilRunEnded() {
        return pollUntil([] { return Poco::ThreadPool::defaultPool().used() == 0; });
    }

    template <typename Check>
    static bool pollUntil(Check check) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!check()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    boost::shared_ptr<Orvane::System::OrvaneCacheDB> cache(const std::string& folder) {
        auto db = Orvane::System::LocalCacheDBHolder::GetCacheDB(folder);
        EXPECT_TRUE(db) << folder;
        return db;
    }

    std::string cacheFile() {
        std::string file;
        for (Poco::DirectoryIterator it(m_profileDir + "/imagecache"), end; it != end; ++it) {
            if (it.name().size() > 3 && it.name().compare(it.name().size() - 3, 3, ".db") == 0)
                file = it.path().toString();
        }
        return file;
    }

    // Rows of one table over every cache file of the profile.
    int rows(const std::string& table) {
        int count = 0;
        // A run cancelled before its first picture has made no cache folder.
        if (!Poco::File(m_profileDir + "/imagecache").exists())
            return 0;
        for (Poco::DirectoryIterator it(m_profileDir + "/imagecache"), end; it != end; ++it) {
            if (it.name().size() < 4 || it.name().compare(it.name().size() - 3, 3, ".db") != 0)
                continue;
            sqlite3* db = nullptr;
            sqlite3_open_v2(it.path().toString().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_stmt* stmt = nullptr;
            if (sqlite3_prepare_v2(db, ("SELECT COUNT(*) FROM " + table).c_str(), -1, &stmt,
                                   nullptr) == SQLITE_OK &&
                sqlite3_step(stmt) == SQLITE_ROW)
                count += sqlite3_column_int(stmt, 0);
            sqlite3_finalize(stmt);
            sqlite3_close(db);
        }
        return count;
    }

    static std::string stampOf(const std::string& path) {
        return Poco::DateTimeFormatter::format(Poco::File(path).getLastModified(),
                                               Poco::DateTimeFormat::SORTABLE_FORMAT);
    }

    // Moves the file's time by the given seconds, as an edit would.
    static void touch(const std::string& path, int seconds) {
        Poco::File file(path);
        file.setLastModified(file.getLastModified() + Poco::Timespan(seconds, 0));
    }
};

}  // namespace ImageCacheSupport
