// Guest-user permissions on shares, set and read by name through the plug-in.
#include "TestSupport.h"
#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "orvane/GuestUser.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "store/DapplineDB.h"

using namespace Orvane;
using TestSupport::Reply;

namespace {

const std::string NO_USERS = "<users></users>";

class AdminUserAccess : public TestSupport::PluginFixture {
protected:
    void SetUp() override {
        TestSupport::PluginFixture::SetUp();
        ann = API::GuestUserManager::addGuestUser("ann", "secret1");
        bob = API::GuestUserManager::addGuestUser("bob & co", "secret2");
        ASSERT_GT(ann, 0);
        ASSERT_GT(bob, 0);
        Orvane::Dappline::Dappline share("Photos", m_temp->mkdir("Photos"), "", "", 0, 1, 2, 0);
        ASSERT_TRUE(m_plugin->database()->addShare(share));
        shareId = share.shareId;
        ids = "shareid=" + std::to_string(shareId) + "&userid=" + std::to_string(ann);
    }
    std::string ask(const std::string& operation, const std::string& query) {
        return call(ownerRequest(operation, query)).body;
    }
    std::string userEntry(int id, const std::string& name, int write) {
        return "<user><userid>" + std::to_string(id) + "</userid><username>" + name +
               "</username><read>1</read><write>" + std::to_string(write) + "</write></user>";
    }
    static std::string result(const std::string& operation, bool ok) {
        return Util::HTTP::getXMLResult(operation, ok, "");
    }

    int ann = 0, bob = 0, shareId = 0;
    std::string ids;
};

TEST_F(AdminUserAccess, OwnerGateRefusesEveryone) {
    TestSupport::MessagePtr msg = request("addusertoshare", ids, 30);
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Role"), call(msg).body);
    msg = ownerRequest("getusersforshare", "shareid=" + std::to_string(shareId));
    msg->authSource = 50;
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Source"),
              call(msg).body);
    EXPECT_FALSE(m_plugin->database()->checkCredentials(shareId, ann));
}

TEST_F(AdminUserAccess, AddTwiceListsTwoRowsAndDeleteRemovesThem) {
    const std::string share = "shareid=" + std::to_string(shareId);
    EXPECT_EQ(result("addusertoshare", true), ask("addusertoshare", ids));
    EXPECT_EQ(result("addusertoshare", true), ask("addusertoshare", ids));
    EXPECT_EQ("<users>" + userEntry(ann, "ann", 0) + userEntry(ann, "ann", 0) + "</users>",
              ask("getusersforshare", share));

    // Only bob can still be added; his name is escaped in the list.
    Data::GuestUser bobUser(bob, "bob & co", "");
    EXPECT_EQ("<users>" + bobUser.toXML() + "</users>", ask("getaddusersforshare", share));
    EXPECT_NE(std::string::npos, bobUser.toXML().find("bob &amp; co"));

    EXPECT_EQ(result("addusertoshare", false), ask("addusertoshare", share));
    EXPECT_EQ(result("deleteuserfromshare", false), ask("deleteuserfromshare", share));
    EXPECT_EQ(result("deleteuserfromshare", true), ask("deleteuserfromshare", ids));
    EXPECT_EQ(NO_USERS, ask("getusersforshare", share));
}

TEST_F(AdminUserAccess, UserListsWithoutUsableShareId) {
    ask("addusertoshare", ids);
    EXPECT_EQ(NO_USERS, ask("getusersforshare", ""));
    EXPECT_EQ(NO_USERS, ask("getaddusersforshare", ""));
    // Letters read as share 0, which nobody holds.
    EXPECT_EQ(NO_USERS, ask("getusersforshare", "shareid=abc"));
}

TEST_F(AdminUserAccess, WriteAccessOnlyForTheTextOne) {
    ask("addusertoshare", ids);
    EXPECT_EQ("<user><access><writemode>0</writemode></access></user>",
              ask("getuseraccessforshare", ids));

    EXPECT_EQ(result("setuseraccess", true), ask("setuseraccessforshare", ids + "&write=1"));
    EXPECT_EQ("<user><access><writemode>1</writemode></access></user>",
              ask("getuseraccessforshare", ids));
    EXPECT_TRUE(m_plugin->database()->hasWriteAccessForShare(ann, shareId));

    EXPECT_EQ(result("setuseraccess", true), ask("setuseraccessforshare", ids + "&write=true"));
    EXPECT_EQ("<user><access><writemode>0</writemode></access></user>",
              ask("getuseraccessforshare", ids));

    // No permission row for bob: nothing is created for him.
    const std::string bobIds =
        "shareid=" + std::to_string(shareId) + "&userid=" + std::to_string(bob);
    ask("setuseraccessforshare", bobIds + "&write=1");
    EXPECT_FALSE(m_plugin->database()->checkCredentials(shareId, bob));
}

TEST_F(AdminUserAccess, AccessOfAMissingIdIsEmpty) {
    ask("addusertoshare", ids);
    EXPECT_EQ("<user></user>", ask("getuseraccessforshare", "shareid=" + std::to_string(shareId)));
    EXPECT_EQ("<user></user>", ask("getuseraccessforshare", "userid=" + std::to_string(ann)));
}

}  // namespace
