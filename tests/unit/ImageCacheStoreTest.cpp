// The host's image cache databases: where they live, what they keep, and
// sharing one folder's file between threads.
#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "orvane/CacheDB.h"
#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"

using namespace Orvane;
using System::LocalCacheDBHolder;
using System::OrvaneCacheDB;
using TestSupport::TempDir;

namespace {

class ImageCacheStore : public ::testing::Test {
protected:
    void SetUp() override {
        m_profile = m_temp.path() + "/profile";
        API::ProfileManager::loadProfile(m_profile);
    }
    void TearDown() override { API::ProfileManager::unloadProfile(); }

    std::vector<std::string> cacheFiles() {
        std::vector<std::string> files;
        const std::string dir = m_profile + "/imagecache";
        if (!Poco::File(dir).exists())
            return files;
        for (Poco::DirectoryIterator it(dir), end; it != end; ++it) {
            if (it.name().size() > 3 && it.name().substr(it.name().size() - 3) == ".db")
                files.push_back(it.path().toString());
        }
        return files;
    }

    // Asks SQLite itself, on a connection of its own.
    std::string scalar(const std::string& file, const std::string& sql) {
        sqlite3* db = nullptr;
        EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
        sqlite3_stmt* stmt = nullptr;
        std::string value;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(stmt, 0);
            value = text ? reinterpret_cast<const char*>(text) : "";
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return value;
    }

    TempDir m_temp;
    std::string m_profile;
};

}  // namespace

TEST_F(ImageCacheStore, OnlyExistingFoldersHaveACache) {
    EXPECT_FALSE(LocalCacheDBHolder::GetCacheDB(m_temp.path() + "/missing"));
    EXPECT_FALSE(LocalCacheDBHolder::GetCacheDB(m_temp.write("file.jpg", "x")));
    EXPECT_FALSE(LocalCacheDBHolder::GetCacheDB(""));
    EXPECT_TRUE(cacheFiles().empty());

    API::ProfileManager::unloadProfile();
    EXPECT_FALSE(LocalCacheDBHolder::GetCacheDB(m_temp.mkdir("photos")));
    API::ProfileManager::loadProfile(m_profile);
}

TEST_F(ImageCacheStore, OneWalFilePerFolderBelowTheProfile) {
    const std::string photos = m_temp.mkdir("photos");
    const std::string other = m_temp.mkdir("other");
    auto first = LocalCacheDBHolder::GetCacheDB(photos);
    ASSERT_TRUE(first);
    EXPECT_EQ(first, LocalCacheDBHolder::GetCacheDB(photos + "/"));
    EXPECT_EQ(first, LocalCacheDBHolder::GetCacheDB(photos + "//"));
    ASSERT_TRUE(LocalCacheDBHolder::GetCacheDB(other));
    EXPECT_NE(first, LocalCacheDBHolder::GetCacheDB(other));

    const std::vector<std::string> files = cacheFiles();
    ASSERT_EQ(2u, files.size());
    for (const std::string& file : files) {
        EXPECT_EQ("wal", scalar(file, "PRAGMA journal_mode"));
        EXPECT_EQ("2", scalar(file,
                              "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND "
                              "name IN ('thumbnails', 'slides')"));
    }
}

TEST_F(ImageCacheStore, EntriesCountOnlyWithTheirStamp) {
    auto db = LocalCacheDBHolder::GetCacheDB(m_temp.mkdir("photos"));
    ASSERT_TRUE(db);
    const std::string bytes("\xff\xd8\0\x01\0jpeg", 9);
    EXPECT_FALSE(db->isThumbPresent("a.jpg", "2020-01-01 10:00:00"));
    ASSERT_TRUE(db->addThumbImage("a.jpg", bytes, "2020-01-01 10:00:00"));
    EXPECT_TRUE(db->isThumbPresent("a.jpg", "2020-01-01 10:00:00"));
    EXPECT_FALSE(db->isThumbPresent("a.jpg", "2020-01-01 10:00:01"));
    // Thumbnails and slides are kept apart under the same key.
    EXPECT_FALSE(db->isSlidePresent("a.jpg", "2020-01-01 10:00:00"));

    std::string read;
    ASSERT_TRUE(db->getThumbImage("a.jpg", read));
    EXPECT_EQ(bytes, read);
    EXPECT_FALSE(db->getSlideImage("a.jpg", read));

    // The one-read form gives the bytes only with the stamp they were stored with.
    std::string sunk = "untouched";
    const OrvaneCacheDB::PictureSink sink = [&sunk](const char* bytes, std::size_t length) {
        sunk.assign(bytes, length);
    };
    EXPECT_FALSE(db->readCurrentThumb("a.jpg", "2020-01-01 10:00:01", sink));
    EXPECT_FALSE(db->readCurrentSlide("a.jpg", "2020-01-01 10:00:00", sink));
    EXPECT_EQ("untouched", sunk);
    ASSERT_TRUE(db->readCurrentThumb("a.jpg", "2020-01-01 10:00:00", sink));
    EXPECT_EQ(bytes, sunk);

    ASSERT_TRUE(db->addSlideImage("a.jpg", "slide", "s1"));
    ASSERT_TRUE(db->addSlideImage("a.jpg", "newer", "s2"));
    EXPECT_FALSE(db->isSlidePresent("a.jpg", "s1"));
    EXPECT_FALSE(db->readCurrentSlide("a.jpg", "s1", sink));
    ASSERT_TRUE(db->readCurrentSlide("a.jpg", "s2", sink));
    EXPECT_EQ("newer", sunk);
    ASSERT_TRUE(db->getSlideImage("a.jpg", read));
    EXPECT_EQ("newer", read);

    EXPECT_TRUE(db->deleteThumbImage("a.jpg"));
    EXPECT_TRUE(db->deleteThumbImage("a.jpg"));
    EXPECT_FALSE(db->getThumbImage("a.jpg", read));
    EXPECT_TRUE(db->deleteSlideImage("a.jpg"));
    EXPECT_FALSE(db->isSlidePresent("a.jpg", "s2"));
}

TEST_F(ImageCacheStore, EntriesOutliveTheOpenDatabases) {
    const std::string photos = m_temp.mkdir("photos");
    ASSERT_TRUE(LocalCacheDBHolder::GetCacheDB(photos)->addThumbImage("k", "data", "t"));
    // More folders than are kept open push the first one out.
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(LocalCacheDBHolder::GetCacheDB(m_temp.mkdir("f" + std::to_string(i))));
    std::string read;
    ASSERT_TRUE(LocalCacheDBHolder::GetCacheDB(photos)->getThumbImage("k", read));
    EXPECT_EQ("data", read);
}

TEST_F(ImageCacheStore, PageHandlersAndTheRunShareAFolder) {
    const std::string photos = m_temp.mkdir("photos");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                try {
                    auto db = LocalCacheDBHolder::GetCacheDB(photos);
                    const std::string key = std::to_string(t) + "-" + std::to_string(i);
                    std::string read;
                    if (!db->addThumbImage(key, key, "s") || !db->isThumbPresent(key, "s") ||
                        !db->getThumbImage(key, read) || read != key ||
                        !db->addSlideImage("shared", key, "s"))
                        ++failures;
                } catch (const Orvane::Exception&) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, failures.load());
    ASSERT_EQ(1u, cacheFiles().size());
    EXPECT_EQ("200", scalar(cacheFiles()[0], "SELECT COUNT(*) FROM thumbnails"));
}

TEST_F(ImageCacheStore, ADamagedFileIsReplaced) {
    const std::string photos = m_temp.mkdir("photos");
    ASSERT_TRUE(LocalCacheDBHolder::GetCacheDB(photos));
    const std::string file = cacheFiles().at(0);
    ASSERT_TRUE(LocalCacheDBHolder::ClearAll());
    EXPECT_TRUE(cacheFiles().empty());

    TestSupport::TempDir scratch;
    Poco::File(scratch.write("junk", std::string(4096, 'j'))).copyTo(file);
    auto db = LocalCacheDBHolder::GetCacheDB(photos);
    ASSERT_TRUE(db);
    EXPECT_TRUE(db->addThumbImage("k", "v", "s"));
    EXPECT_EQ("1", scalar(file, "SELECT COUNT(*) FROM thumbnails"));
}
