// The answers the plug-in posts, its error page, its product identity and
// the two text helpers the page builders share.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/DapplinePlugin.h"
#include "orvane/Customization.h"
#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"

using namespace Orvane;
using namespace Orvane::Defs;
using Orvane::Dappline::searchAndReplace;
using Orvane::Dappline::splitIntoParts;
using TestSupport::MessagePtr;
using TestSupport::Reply;

namespace {

std::size_t occurrences(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(piece); pos != std::string::npos;
         pos = text.find(piece, pos + piece.size())) {
        ++n;
    }
    return n;
}

// Branding values are global to the host; each test starts and ends without.
class BrandingGuard {
public:
    BrandingGuard() { Orvane::CustomizationManager().clear(); }
    ~BrandingGuard() { Orvane::CustomizationManager().clear(); }
};

}  // namespace

class PluginResponse : public TestSupport::PluginFixture {
protected:
    BrandingGuard m_branding;

    Reply lastAnswer() {
        std::vector<MessagePtr> all = m_sync->messages();
        return all.empty() ? Reply() : TestSupport::toReply(all.back());
    }
};

TEST_F(PluginResponse, XMLAnswerCarriesTokenSenderAndType) {
    MessagePtr msg = request("getshares");
    m_plugin->sendSyncResponse(msg, "<result/>");
    Reply reply = lastAnswer();
    ASSERT_TRUE(reply.msg);
    EXPECT_EQ(Service::SYNCPROXYSERVICE, reply.msg->target);
    EXPECT_EQ(Sync::MO_SYNC, reply.msg->operation);
    EXPECT_EQ("dapplinepro", reply.msg->sender);
    EXPECT_EQ(tokenOf(msg), reply.token);
    EXPECT_EQ(200, reply.status);
    EXPECT_EQ("text/xml; charset=utf-8", reply.contentType);
    EXPECT_EQ("<result/>", reply.body);
}

TEST_F(PluginResponse, HTMLAnswerKeepsStatusAndAnEmptyTokenWhenNoneCame) {
    MessagePtr msg = Util::MessageUtil::createNewMessage("dapplinepro", "share/x/");
    m_plugin->sendSyncHTTPResponse(msg, std::string("a\0b", 3), 404);
    Reply reply = lastAnswer();
    ASSERT_TRUE(reply.msg);
    const Data::VariantRow* sync = reply.msg->findSection(Sync::MS_SYNC);
    ASSERT_NE(nullptr, sync);
    EXPECT_TRUE(sync->hasField(Sync::S_SYNC_TOKEN));
    EXPECT_EQ("", reply.token);
    EXPECT_EQ(404, reply.status);
    EXPECT_EQ("text/html; charset=utf-8", reply.contentType);
    EXPECT_EQ(std::string("a\0b", 3), reply.body);
}

TEST_F(PluginResponse, NotFoundPageHasNoStyleAndOnlyTheFixedComment) {
    const std::string page = m_plugin->getErrorHTML("");
    EXPECT_EQ(0u, page.find("<html><head><title>Orvane - Dappline Error</title></head><body>"));
    EXPECT_EQ(std::string::npos, page.find("<style"));
    EXPECT_EQ(1u, occurrences(page, "<!--"));
    EXPECT_NE(std::string::npos, page.find("<!-- MESSAGE: Missing or Incorrect Share -->"));
    EXPECT_NE(
        std::string::npos,
        page.find("<h2>Orvane Dappline was unable to find the page you are looking for.</h2>"));
    EXPECT_NE(std::string::npos, page.find("<li>The share might have expired</li>"));
    EXPECT_EQ(page.size() - 14, page.find("</body></html>"));

    Orvane::CustomizationManager().setCustomizationValue("PRODUCT_NAME", "Acme");
    const std::string branded = m_plugin->getErrorHTML("");
    EXPECT_NE(std::string::npos, branded.find("<h2>Acme Dappline was unable"));
    EXPECT_NE(std::string::npos, branded.find("<title>Orvane - Dappline Error</title>"));
}

TEST_F(PluginResponse, MessagePageShowsTheMessageInThePageFrame) {
    ASSERT_FALSE(m_plugin->css().empty());
    const std::string page = m_plugin->getErrorHTML("x");
    EXPECT_NE(std::string::npos,
              page.find("<style type=\"text/css\">" + m_plugin->css() + "</style></head><body>"));
    EXPECT_NE(std::string::npos, page.find("<!-- MESSAGE:x-->"));
    EXPECT_NE(std::string::npos, page.find("<b>x</b>"));
    EXPECT_NE(std::string::npos,
              page.find("<a class=\"orvane_dappline_logo\" href=\"/app/dapplinepro/\" "
                        "title=\"Orvane Dappline\"><h1>Orvane Dappline</h1></a></div>"));
    EXPECT_NE(std::string::npos, page.find("\t\t</div>\t\t\t</div>\t\t</div>\t</body></html>"));
}

TEST_F(PluginResponse, MessageTextCannotBreakOutOfThePage) {
    const std::string page = m_plugin->getErrorHTML("--><img src=x onerror=alert(1)>");
    EXPECT_EQ(std::string::npos, page.find("<img"));
    EXPECT_EQ(std::string::npos, page.find("--><img"));
    EXPECT_NE(std::string::npos, page.find("<b>--&gt;&lt;img src=x onerror=alert(1)&gt;</b>"));
}

TEST_F(PluginResponse, PluginAddresses) {
    EXPECT_EQ("/app/dapplinepro", m_plugin->getBaseURL());
    EXPECT_EQ("/app/dapplinepro/share/", m_plugin->getShareURL());
}

TEST(PluginStrings, ProductIdentityFallsBackOnlyWhenUnset) {
    BrandingGuard branding;
    EXPECT_EQ("Orvane", Dappline::getProductName());
    const std::string website = Dappline::getProductWebsite();
    EXPECT_EQ(0u, website.find("https://")) << website;

    Orvane::CustomizationManager().setCustomizationValue("PRODUCT_NAME", "");
    Orvane::CustomizationManager().setCustomizationValue("PRODUCT_WEBSITE_URL",
                                                         "https://a.example/");
    EXPECT_EQ("", Dappline::getProductName());
    EXPECT_EQ("https://a.example/", Dappline::getProductWebsite());
}

TEST(PluginStrings, SplitIntoPartsAtTheFirstSlash) {
    struct Case {
        const char* path;
        const char* first;
        const char* rest;
    };
    for (const Case& c : {Case{"a/b/c", "a", "b/c"}, Case{"a/", "a", ""}, Case{"/abc", "", "abc"},
                          Case{"abc", "abc", "untouched"}, Case{"", "", "untouched"}}) {
        std::string first = "old", rest = "untouched";
        splitIntoParts(c.path, first, rest);
        EXPECT_EQ(c.first, first) << c.path;
        EXPECT_EQ(c.rest, rest) << c.path;
    }

    std::string path = "share/sub/dir";
    std::string rest;
    splitIntoParts(path, path, rest);  // the path may be its own first part
    EXPECT_EQ("share", path);
    EXPECT_EQ("sub/dir", rest);
}

TEST(PluginStrings, SearchAndReplaceMakesOnePass) {
    struct Case {
        const char* text;
        const char* find;
        const char* replacement;
        const char* result;
    };
    for (const Case& c :
         {Case{"aaaa", "aa", "a", "aa"}, Case{"a", "a", "aa", "aa"},
          Case{"x##TABS##y##TABS##", "##TABS##", "<t>", "x<t>y<t>"}, Case{"abc", "", "z", "abc"},
          Case{"abc", "d", "z", "abc"}, Case{"abab", "ab", "", ""}}) {
        std::string text = c.text;
        searchAndReplace(text, c.find, c.replacement);
        EXPECT_EQ(c.result, text) << c.text << " / " << c.find;
    }
}
