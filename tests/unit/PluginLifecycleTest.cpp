// The plug-in's life on a temporary profile: start-up with and without its
// archives and data folder, the timer it starts and stops, and the move of
// legacy plug-in users into the host's guest users.
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "TestSupport.h"
#include "core/DapplinePlugin.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/GuestUserManager.h"
#include "orvane/PoManager.h"
#include "orvane/SqliteDB.h"

using namespace Orvane;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

const std::string SOURCE_CSS =
    ORVANE_TEST_SOURCE_DIR "/plugins/plugindappline/resources/dapplinepro.css";

// Sets the host language for one test and restores the previous one.
class LanguageGuard {
public:
    explicit LanguageGuard(const std::string& language)
        : m_previous(Orvane::PoManager().getLanguage()) {
        Orvane::PoManager().setLanguage(language);
    }
    ~LanguageGuard() { Orvane::PoManager().setLanguage(m_previous); }

private:
    std::string m_previous;
};

std::string timerField(const TestSupport::MessagePtr& msg, const char* field) {
    const Data::VariantRow* timer = msg->findSection(Timer::MS_TIMER);
    return timer ? timer->getString(field) : std::string();
}

}  // namespace

class PluginLifecycle : public TestSupport::PluginFixture {
protected:
    std::string dataDir() const { return m_profileDir + "/plugindata/dapplinepro"; }

    // An owner-gate refusal from a timer tick that comes from a low source.
    std::string refusalFromLowSource() {
        TestSupport::MessagePtr tick = request(Timer::MO_TIMER, "", 100);
        tick->authSource = 69;
        return call(tick).body;
    }
};

class PluginLifecycleManual : public PluginLifecycle {
protected:
    void SetUp() override {
        startPluginInSetUp = false;
        PluginFixture::SetUp();
    }
};

TEST_F(PluginLifecycle, StartsTimerOnceAndStopsItOnceAtShutdown) {
    EXPECT_TRUE(Poco::File(dataDir() + "/dapplinepro.db").exists());
    EXPECT_TRUE(Orvane::Dispatcher()->isRegistered("dapplinepro"));
    EXPECT_EQ(TestSupport::readFile(SOURCE_CSS), m_plugin->css());

    ASSERT_EQ(1u, m_timer->count());
    TestSupport::MessagePtr start = m_timer->messages()[0];
    EXPECT_EQ(Timer::MO_TIMER_START, start->operation);
    EXPECT_EQ("dapplinepro", timerField(start, Timer::S_TIMER_SERVICE));
    EXPECT_EQ("DAPPLINEPRO_TIMER", timerField(start, Timer::S_TIMER_TAG));
    EXPECT_EQ("60000", timerField(start, Timer::S_TIMER_INTERVAL));
    EXPECT_EQ("-1", timerField(start, Timer::S_TIMER_REPEATS));

    EXPECT_TRUE(m_plugin->shutdown());
    m_plugin.reset();
    EXPECT_FALSE(Orvane::Dispatcher()->isRegistered("dapplinepro"));
    ASSERT_EQ(2u, m_timer->count());
    TestSupport::MessagePtr stop = m_timer->messages()[1];
    EXPECT_EQ(Timer::MO_TIMER_STOP, stop->operation);
    EXPECT_EQ("dapplinepro", timerField(stop, Timer::S_TIMER_SERVICE));
    EXPECT_EQ("DAPPLINEPRO_TIMER", timerField(stop, Timer::S_TIMER_TAG));
}

TEST_F(PluginLifecycle, OwnerTimerTickIsSilent) {
    TestSupport::MessagePtr tick = request(Timer::MO_TIMER, "", 100);
    deliver(tick);
    EXPECT_TRUE(repliesFor(tick).empty());
    EXPECT_EQ(0u, m_plugin->zipJobCount());
}

TEST_F(PluginLifecycle, RegistersTheGermanTranslations) {
    LanguageGuard german("de");
    EXPECT_NE(std::string::npos, refusalFromLowSource().find("Ungültige Quelle"));
}

TEST_F(PluginLifecycle, SecondRegistrationUnderTheSameNameIsAnAssertion) {
    Dappline::DapplinePlugin second;
    ASSERT_TRUE(second.init(m_pluginDir));
    EXPECT_THROW(second.startup(Orvane::Dispatcher()), Poco::AssertionViolationException);
    // The first plug-in still owns the name and answers.
    EXPECT_EQ(200, call(request("dapplinepro.css")).status);
}

TEST_F(PluginLifecycle, ImageSizesFollowTheSizeIndices) {
    EXPECT_EQ(64, m_plugin->getThumbSizePx(0));
    EXPECT_EQ(256, m_plugin->getThumbSizePx(2));
    for (int other : {1, 7, -1})
        EXPECT_EQ(128, m_plugin->getThumbSizePx(other)) << other;
    EXPECT_EQ(800, m_plugin->getViewSizeWidthPx(0));
    EXPECT_EQ(600, m_plugin->getViewSizeHeightPx(0));
    EXPECT_EQ(1024, m_plugin->getViewSizeWidthPx(1));
    EXPECT_EQ(768, m_plugin->getViewSizeHeightPx(1));
}

TEST_F(PluginLifecycleManual, ExistingDataFolderIsKept) {
    const std::string kept = m_temp->write("profile/plugindata/dapplinepro/keep.txt", "kept");
    startPlugin();
    EXPECT_EQ("kept", TestSupport::readFile(kept));
    EXPECT_TRUE(Poco::File(dataDir() + "/dapplinepro.db").exists());
}

TEST_F(PluginLifecycleManual, UnusableDataFolderFailsStartupBeforeRegistering) {
    m_temp->write("profile/plugindata", "a file where the folder belongs");
    m_plugin.reset(new Dappline::DapplinePlugin());
    ASSERT_TRUE(m_plugin->init(m_pluginDir));
    EXPECT_FALSE(m_plugin->startup(Orvane::Dispatcher()));
    EXPECT_FALSE(Orvane::Dispatcher()->isRegistered("dapplinepro"));
    EXPECT_EQ(0u, m_timer->count());
}

TEST_F(PluginLifecycleManual, MissingArchivesDoNotStopStartup) {
    LanguageGuard german("de");
    m_pluginDir = m_temp->mkdir("empty-plugin-dir") + "/";
    startPlugin();
    EXPECT_TRUE(m_plugin->css().empty());
    EXPECT_EQ(1u, m_timer->count());

    // Without the translation archive the texts stay English.
    EXPECT_NE(std::string::npos, refusalFromLowSource().find("Bad Source"));

    // Without the resource archive every file is the error page.
    Reply css = call(request("dapplinepro.css"));
    EXPECT_EQ(200, css.status);
    EXPECT_EQ("text/html", css.contentType);
    EXPECT_EQ("max-age=1800", css.field(HTTP::S_HTTP_SET_CACHE_CONTROL));
    EXPECT_EQ(m_plugin->getErrorHTML(""), css.body);
}

// Legacy ids that equal other users' new ids must not merge their rows.
TEST_F(PluginLifecycleManual, MigrationMovesSwappedIdsToTheRightGuests) {
    const int alice = API::GuestUserManager::addGuestUser("alice", "old-a");
    const int bob = API::GuestUserManager::addGuestUser("bob", "old-b");
    ASSERT_GT(alice, 0);
    ASSERT_GT(bob, 0);
    ASSERT_NE(alice, bob);

    const std::string dbPath = m_temp->mkdir("profile/plugindata/dapplinepro") + "/dapplinepro.db";
    {
        Misc::SqliteDB legacy;
        ASSERT_TRUE(legacy.openDB(dbPath, ""));
        legacy.execDML(
            "CREATE TABLE USER (USERID INTEGER primary key AUTOINCREMENT, USERNAME TEXT, "
            "USERPASSWORD TEXT);");
        legacy.execDML(
            "CREATE TABLE PERMISSION (ID INTEGER PRIMARY KEY AUTOINCREMENT, SHAREID INTEGER, "
            "USERID INTEGER, WRITEMODE INTEGER);");
        legacy.execDML(Misc::SqliteDB::format(
            "INSERT INTO USER VALUES (%d, 'alice', 'new-a'), (%d, 'bob', 'new-b'), "
            "(4242, 'carol', 'pc');",
            bob, alice));
        legacy.execDML(Misc::SqliteDB::format(
            "INSERT INTO PERMISSION (SHAREID, USERID, WRITEMODE) VALUES (1, %d, 1), (2, %d, 0), "
            "(3, 4242, 0);",
            bob, alice));
    }

    startPlugin();

    const int carol = API::GuestUserManager::getGuestUserID("carol");
    ASSERT_GT(carol, 0);
    EXPECT_EQ(carol, API::GuestUserManager::getGuestUserID("carol", "pc"));
    EXPECT_EQ(alice, API::GuestUserManager::getGuestUserID("alice", "new-a"));
    EXPECT_EQ(bob, API::GuestUserManager::getGuestUserID("bob", "new-b"));

    Misc::SqliteDB check;
    ASSERT_TRUE(check.openDB(dbPath, ""));
    EXPECT_FALSE(check.TableExists("USER"));
    std::map<int, int> userOfShare;
    for (const Misc::SqliteRow& row : check.execQuery("SELECT SHAREID, USERID FROM PERMISSION;")) {
        userOfShare[row.getInt("SHAREID")] = row.getInt("USERID");
    }
    EXPECT_EQ((std::map<int, int>{{1, alice}, {2, bob}, {3, carol}}), userOfShare);
}
