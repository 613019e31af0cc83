// The host's short links, stored in the loaded profile.
#include <Poco/File.h>
#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "StoreTestSupport.h"
#include "orvane/ShortURLManager.h"

namespace {

class StoreShortURLTest : public StoreTest::ProfileTest {};

TEST_F(StoreShortURLTest, CodePerPathIsStableAndResolves) {
    std::string a, again, b;
    ASSERT_TRUE(Orvane::ShortURLManager().addShortURL("/app/dapplinepro/share/One/", a));
    EXPECT_TRUE(std::regex_match(a, std::regex("[A-Za-z0-9]{8}"))) << a;
    ASSERT_TRUE(Orvane::ShortURLManager().addShortURL("/app/dapplinepro/share/One/", again));
    EXPECT_EQ(a, again);
    ASSERT_TRUE(Orvane::ShortURLManager().addShortURL("/app/dapplinepro/share/Two/", b));
    EXPECT_NE(a, b);
    std::string path;
    ASSERT_TRUE(Orvane::ShortURLManager().resolveShortURL(a, path));
    EXPECT_EQ("/app/dapplinepro/share/One/", path);
    EXPECT_FALSE(Orvane::ShortURLManager().resolveShortURL("zzzzzzzz", path));
    EXPECT_TRUE(Poco::File(m_profileDir + "/shorturls.db").exists());
}

TEST_F(StoreShortURLTest, DeleteTakesCodeOrPath) {
    std::string first, second, path;
    ASSERT_TRUE(Orvane::ShortURLManager().addShortURL("/first/", first));
    ASSERT_TRUE(Orvane::ShortURLManager().addShortURL("/second/", second));
    EXPECT_TRUE(Orvane::ShortURLManager().deleteShortURL(first));
    EXPECT_FALSE(Orvane::ShortURLManager().resolveShortURL(first, path));
    EXPECT_TRUE(Orvane::ShortURLManager().deleteShortURL("/second/"));
    EXPECT_FALSE(Orvane::ShortURLManager().resolveShortURL(second, path));
    EXPECT_FALSE(Orvane::ShortURLManager().deleteShortURL("/second/"));
    EXPECT_FALSE(Orvane::ShortURLManager().deleteShortURL("nothing1"));
    std::string renewed;
    ASSERT_TRUE(Orvane::ShortURLManager().addShortURL("/first/", renewed));
    ASSERT_TRUE(Orvane::ShortURLManager().resolveShortURL(renewed, path));
    EXPECT_EQ("/first/", path);
}

TEST_F(StoreShortURLTest, RefusesWhatIsNotAHostPath) {
    std::string code;
    EXPECT_FALSE(Orvane::ShortURLManager().addShortURL("", code));
    EXPECT_FALSE(Orvane::ShortURLManager().addShortURL("http://elsewhere.example/", code));
    EXPECT_FALSE(Orvane::ShortURLManager().addShortURL("/a\r\nSet-Cookie: x=1", code));
}

TEST_F(StoreShortURLTest, FollowsTheLoadedProfile) {
    std::string code, path;
    ASSERT_TRUE(Orvane::ShortURLManager().addShortURL("/only/in/first/", code));
    TestSupport::TempDir other;
    Orvane::API::ProfileManager::loadProfile(other.path() + "/profile");
    EXPECT_FALSE(Orvane::ShortURLManager().resolveShortURL(code, path));
    EXPECT_TRUE(Poco::File(other.path() + "/profile/shorturls.db").exists());
    Orvane::API::ProfileManager::loadProfile(m_profileDir);
    ASSERT_TRUE(Orvane::ShortURLManager().resolveShortURL(code, path));
    EXPECT_EQ("/only/in/first/", path);
    Orvane::API::ProfileManager::unloadProfile();
    EXPECT_FALSE(Orvane::ShortURLManager().addShortURL("/no/profile/", code));
}

TEST_F(StoreShortURLTest, ConcurrentRegistrationsOfOnePathAgree) {
    std::mutex mutex;
    std::set<std::string> codes;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                std::string code;
                const bool ok =
                    Orvane::ShortURLManager().addShortURL("/same/" + std::to_string(i), code);
                std::lock_guard<std::mutex> lock(mutex);
                codes.insert(ok ? code : "failed");
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(0u, codes.count("failed"));
    EXPECT_EQ(10u, codes.size()) << "one code per path, whichever thread came first";
}

}  // namespace
