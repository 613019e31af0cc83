// History, status and settings operations by name, and the shared-folder size.
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/URI.h>
#include <unistd.h>

#include "TestSupport.h"
#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "store/DapplineDB.h"
#include "store/DapplineHistory.h"

using namespace Orvane;
using Orvane::Dappline::DapplineHistory;

namespace {

const std::string NO_HISTORY = "<histories><meta></meta></histories>";

class AdminSettings : public TestSupport::PluginFixture {
protected:
    std::string ask(const std::string& operation, const std::string& query = "") {
        return call(ownerRequest(operation, query)).body;
    }
    static std::string result(const std::string& operation, bool ok) {
        return Util::HTTP::getXMLResult(operation, ok, "");
    }
    int addShare(const std::string& name, int allowPublic) {
        Orvane::Dappline::Dappline share(name, m_temp->mkdir(name), "", "", 0, 1, 2, allowPublic);
        EXPECT_TRUE(m_plugin->database()->addShare(share));
        return share.shareId;
    }
    std::string histories(int total, const std::vector<DapplineHistory>& lines) {
        std::string out =
            "<histories><meta><totalrecords>" + std::to_string(total) + "</totalrecords></meta>";
        for (const auto& line : lines)
            out += line.toXML();
        return out + "</histories>";
    }
};

TEST_F(AdminSettings, OwnerGateRefusesBadSourceAndRole) {
    TestSupport::MessagePtr msg = ownerRequest("clearhistory");
    msg->authSource = 69;
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Source"),
              call(msg).body);
    msg = request("setshowgs", "show=0", 99);
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Role"), call(msg).body);
    EXPECT_EQ(result("showgs", true), ask("showgs"));
}

TEST_F(AdminSettings, HistoryPagesAndFilters) {
    const int a = addShare("A", 1);
    const int b = addShare("B", 1);
    const int ann = API::GuestUserManager::addGuestUser("ann", "secret1");
    std::vector<DapplineHistory> lines = {
        DapplineHistory(a, "/x/one.jpg", 2048, "2024-03-01 10:00:00", -1, ""),
        DapplineHistory(a, "/x/two.jpg", 10, "2024-03-02 10:00:00", ann, "ann"),
        DapplineHistory(b, "/y/up <1>.txt", 5, "2024-03-03 10:00:00", ann, "ann", true),
    };
    for (auto& line : lines)
        ASSERT_TRUE(m_plugin->database()->addHistory(line));

    EXPECT_EQ(histories(3, {lines[2], lines[1]}), ask("gethistory", "offset=0&max=2&shareid=-1"));
    EXPECT_EQ(histories(3, {lines[0]}), ask("gethistory", "offset=2&max=2&shareid=-1"));
    EXPECT_EQ(histories(2, {lines[1], lines[0]}),
              ask("gethistory", "offset=0&max=10&shareid=-1&filter=DL"));
    EXPECT_EQ(histories(1, {lines[2]}), ask("gethistory", "offset=0&max=10&shareid=-1&filter=UL"));
    EXPECT_EQ(histories(1, {lines[2]}),
              ask("gethistory", "offset=0&max=10&shareid=" + std::to_string(b)));
    EXPECT_NE(std::string::npos, ask("gethistory", "offset=0&max=10&shareid=-1").find("&lt;1&gt;"));

    EXPECT_EQ(NO_HISTORY, ask("gethistory", "offset=0&shareid=-1"));
    EXPECT_EQ(NO_HISTORY, ask("gethistory", "max=1&shareid=-1"));
    EXPECT_EQ(NO_HISTORY, ask("gethistory", "offset=0&max=1"));

    EXPECT_EQ(result("clearhistory", true), ask("clearhistory"));
    EXPECT_EQ(histories(0, {}), ask("gethistory", "offset=0&max=10&shareid=-1"));
}

TEST_F(AdminSettings, StatusAndFolderSizeOperations) {
    EXPECT_EQ("<systemstatus><status><version>13.89.0.32926</version></status></systemstatus>",
              ask("getstatus"));

    TestSupport::MessagePtr msg = ownerRequest("getsharedfoldersize", "shareid=1");
    deliver(msg);
    EXPECT_TRUE(repliesFor(msg).empty());
    msg = request("getsharedfoldersize", "", 0);
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Role"), call(msg).body);
}

TEST_F(AdminSettings, ShowGuestSharesSwitch) {
    EXPECT_EQ(result("showgs", true), ask("showgs"));
    EXPECT_EQ(result("setshowgs", true), ask("setshowgs", "show=0"));
    EXPECT_EQ(result("showgs", false), ask("showgs"));
    EXPECT_EQ(result("setshowgs", true), ask("setshowgs", "show=5"));
    EXPECT_EQ("1", m_plugin->database()->getConfigValue("dappline", "showgs", ""));
    EXPECT_EQ(result("setshowgs", true), ask("setshowgs", "show=yes"));
    EXPECT_EQ("0", m_plugin->database()->getConfigValue("dappline", "showgs", ""));
    EXPECT_EQ(result("setshowgs", false), ask("setshowgs"));
    EXPECT_EQ("0", m_plugin->database()->getConfigValue("dappline", "showgs", ""));
}

TEST_F(AdminSettings, CustomHeaderIsStoredRawAndAnsweredEscaped) {
    const std::string wrap = "<configitems><configitem><customheader>";
    const std::string unwrap = "</customheader></configitem></configitems>";
    EXPECT_EQ(wrap + "DEFAULT_IMAGE" + unwrap, ask("getcustomheader"));

    const std::string header = "<b>Tom & Jerry's</b>";
    std::string encoded;
    Poco::URI::encode(header, "&=+#;'", encoded);
    EXPECT_EQ(result("setcustomheader", true), ask("setcustomheader", "customheader=" + encoded));
    EXPECT_EQ(header, m_plugin->database()->getConfigValue("CUSTOMHEADER", "ENABLED", ""));
    EXPECT_EQ(wrap + "&lt;b&gt;Tom &amp; Jerry&apos;s&lt;/b&gt;" + unwrap, ask("getcustomheader"));

    // Without the parameter nothing is stored, and it still succeeds.
    EXPECT_EQ(result("setcustomheader", true), ask("setcustomheader"));
    EXPECT_EQ(header, m_plugin->database()->getConfigValue("CUSTOMHEADER", "ENABLED", ""));
}

TEST_F(AdminSettings, PublicAccessSwitchAndPermissions) {
    const int id = addShare("Photos", 0);
    const int ann = API::GuestUserManager::addGuestUser("ann", "secret1");
    ASSERT_TRUE(m_plugin->database()->addUserToShare(id, ann, 0));
    const std::string share = "shareid=%20" + std::to_string(id) + "%20";

    EXPECT_EQ(result("setallowpublicaccess", true),
              ask("setallowpublicaccess", share + "&allowpublicaccess=2"));
    EXPECT_EQ(2, m_plugin->database()->getShare(id)->allowPublicAccess);
    EXPECT_TRUE(m_plugin->database()->checkCredentials(id, ann));

    EXPECT_EQ(result("setallowpublicaccess", true),
              ask("setallowpublicaccess", share + "&allowpublicaccess=1"));
    EXPECT_EQ(1, m_plugin->database()->getShare(id)->allowPublicAccess);
    EXPECT_FALSE(m_plugin->database()->checkCredentials(id, ann));

    EXPECT_EQ(result("setallowpublicaccess", false),
              ask("setallowpublicaccess", "shareid=999&allowpublicaccess=0"));
    EXPECT_EQ(result("setallowpublicaccess", false), ask("setallowpublicaccess", share));
    EXPECT_EQ(1, m_plugin->database()->getShare(id)->allowPublicAccess);
}

TEST_F(AdminSettings, SharedFolderSizeCountsHiddenFilesToo) {
    const std::string root = m_temp->mkdir("size");
    m_temp->write("size/a.bin", std::string(1000, 'a'));
    m_temp->write("size/sub/b.bin", std::string(24, 'b'));
    m_temp->write("size/sub/deeper/c.bin", std::string(3, 'c'));
    m_temp->write("size/.hidden", std::string(500, 'h'));
    m_temp->write("size/.cache/d.bin", std::string(700, 'd'));
    m_temp->mkdir("size/empty");
    // A link back up the tree must not make the walk endless.
    ASSERT_EQ(0, ::symlink(root.c_str(), (root + "/sub/loop").c_str()));
    EXPECT_EQ(1027 + 500 + 700, m_plugin->getSharedFolderSize(root));
    EXPECT_EQ(27, m_plugin->getSharedFolderSize(root + "/sub"));

    EXPECT_THROW(m_plugin->getSharedFolderSize(root + "/missing"), Poco::Exception);
    EXPECT_THROW(m_plugin->getSharedFolderSize(root + "/a.bin"), Poco::Exception);
}

}  // namespace
