// E-mailed share links by name through the plug-in, delivered over a real
// SMTP dialogue to a sink on a loopback port.
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/URI.h>

#include <algorithm>
#include <map>

#include "SmtpSink.h"
#include "TestSupport.h"
#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "orvane/Defs.h"
#include "orvane/HTTPUtil.h"
#include "orvane/ProfileManager.h"
#include "orvane/ShortURLManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"

using namespace Orvane;
using TestSupport::Reply;
using TestSupport::SmtpSink;

namespace {

typedef std::map<std::string, std::string> Fields;

const std::string SENT = "<emailstatus><status>1</status><reason></reason></emailstatus>";

std::string enc(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "&=+#%;?/:", out);
    return out;
}

std::string refusal(const std::string& reason) {
    return "<emailstatus><status>0</status><reason>" + reason + "</reason></emailstatus>";
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    return out;
}

class AdminEmail : public TestSupport::PluginFixture {
protected:
    // What the owner's form sends; "message" and "url" arrive encoded twice.
    Fields fields() {
        return {{"message", "See you"},         {"from", "Ann Smith"},
                {"sharename", "Photos"},        {"toemailid", "bob@example.com"},
                {"replyto", "ann@example.org"}, {"url", "http://example.org/urlAbC"},
                {"publicshare", "true"}};
    }
    Reply send(const Fields& values) {
        std::string body;
        for (const auto& field : values) {
            const bool twice = field.first == "message" || field.first == "url";
            body += (body.empty() ? "" : "&") + field.first + "=" +
                    (twice ? enc(enc(field.second)) : enc(field.second));
        }
        TestSupport::MessagePtr msg = ownerRequest("sendsharetoemail");
        msg->setRawData(body);
        return call(msg);
    }
    void useSink(const SmtpSink& sink) {
        API::ProfileManager::setProperty("smtp.host", "127.0.0.1");
        API::ProfileManager::setProperty("smtp.port", std::to_string(sink.port()));
        API::ProfileManager::setProperty("smtp.from", "dappline@example.org");
    }
    static std::string body(const std::string& from, const std::string& url,
                            const std::string& message) {
        return "<p>" + from + " has shared some files for you through " +
               Orvane::Dappline::getProductName() + " at: <br/><br/><b><a href=\"" + url + "\">" +
               url + "</a></b><br/><br/>" + from +
               " has also sent the following message: <br/><br/>" + message + "<br/><br/></p>";
    }
    std::string reasonOf(const std::string& answer) {
        const std::string open = "<reason>", close = "</reason>";
        const auto from = answer.find(open), to = answer.find(close);
        if (from == std::string::npos || to == std::string::npos)
            return "";
        return answer.substr(from + open.size(), to - from - open.size());
    }
    Orvane::Dappline::DapplinePtr addShare(const std::string& name, const std::string& mode,
                                           int allowPublic) {
        Orvane::Dappline::Dappline share(name, m_temp->mkdir("shares/" + name), mode, "", 0, 1, 2,
                                         allowPublic);
        EXPECT_TRUE(m_plugin->database()->addShare(share));
        return m_plugin->database()->getShareByName(name);
    }
};

TEST_F(AdminEmail, OwnerGateRefusesBadSourceAndRole) {
    TestSupport::MessagePtr msg = ownerRequest("sendsharetoemail");
    msg->authSource = 0;
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Source"),
              call(msg).body);
    msg = request("geturlforemail", "sharename=Photos", 30);
    EXPECT_EQ(Util::HTTP::getXMLResult("Authentication Failed", false, "Bad Role"), call(msg).body);
}

TEST_F(AdminEmail, WithoutMailServerTheReasonSaysSo) {
    EXPECT_EQ(refusal("Mail server is not configured"), send(fields()).body);
}

TEST_F(AdminEmail, EachValidationFailureAnswersItsText) {
    SmtpSink sink;
    useSink(sink);
    Fields f = fields();
    f["from"] = "Ann 2";
    f["toemailid"] = "not-an-address";
    EXPECT_EQ(refusal("Only letters [A-z] and Space are allowed in Your Name Field"), send(f).body);
    f = fields();
    f["toemailid"] = "bob@";
    EXPECT_EQ(refusal("Invalid Email ID"), send(f).body);
    f = fields();
    f["replyto"] = "ann at example.org";
    EXPECT_EQ(refusal("From Email ID is invalid"), send(f).body);
    f = fields();
    f["publicshare"] = "TRUE";
    f["userid"] = "7a";
    EXPECT_EQ(refusal("Invalid User ID"), send(f).body);
    f["publicshare"] = "1";
    f["userid"] = "";
    EXPECT_EQ(refusal("Invalid User ID"), send(f).body);

    // Not a public share and no user id at all: a required field is missing.
    f.erase("userid");
    EXPECT_EQ(Util::HTTP::getXMLResult("sendsharetoemail", false, ""), send(f).body);
    f = fields();
    f.erase("replyto");
    EXPECT_EQ(Util::HTTP::getXMLResult("sendsharetoemail", false, ""), send(f).body);
    EXPECT_TRUE(sink.commands().empty()) << "nothing may reach the server";

    f = fields();
    f["publicshare"] = "TRUE";
    f["userid"] = "7";
    EXPECT_EQ(SENT, send(f).body);
    EXPECT_TRUE(sink.waitForMails(1));
}

TEST_F(AdminEmail, MailArrivesWithSubjectBodyAndReplyTo) {
    SmtpSink sink;
    useSink(sink);
    Fields f = fields();
    f["message"] =
        "Gr\xC3\xBC\xC3\x9F"
        "e & <i>50% off</i>";
    f["url"] = "http://example.org/url?a=1&b=2";
    EXPECT_EQ(SENT, send(f).body);
    ASSERT_TRUE(sink.waitForMails(1));

    TestSupport::ReceivedMail mail = TestSupport::parseMail(sink.mails().front());
    EXPECT_EQ("Ann Smith has shared files with you", mail.subject);
    EXPECT_EQ("ann@example.org", mail.replyTo);
    EXPECT_NE(std::string::npos, mail.recipients.find("bob@example.com"));
    EXPECT_EQ("\"Ann Smith\" <dappline@example.org>", mail.sender);
    ASSERT_EQ(1u, mail.parts.size());
    EXPECT_EQ("text/html; charset=UTF-8", mail.partTypes.front());
    EXPECT_EQ(body("Ann Smith", f["url"], f["message"]), mail.parts.front());

    const auto commands = sink.commands();
    EXPECT_TRUE(hasLine(commands, "MAIL FROM: <dappline@example.org>")) << joined(commands);
    EXPECT_TRUE(hasLine(commands, "RCPT TO: <bob@example.com>")) << joined(commands);
    EXPECT_FALSE(hasLine(commands, "STARTTLS"));
    EXPECT_TRUE(sink.waitForSessions(1));
    EXPECT_TRUE(hasLine(sink.commands(), "QUIT"));
}

TEST_F(AdminEmail, LongSenderNamesAreCutInTheSubjectOnly) {
    SmtpSink sink;
    useSink(sink);
    Fields f = fields();
    f["from"] = "Abcdefghij klmn";  // 15 characters
    f["message"] = "";
    EXPECT_EQ(SENT, send(f).body);
    f["from"] = "Abcdefghij klmno";  // 16
    EXPECT_EQ(SENT, send(f).body);
    ASSERT_TRUE(sink.waitForMails(2));

    TestSupport::ReceivedMail whole = TestSupport::parseMail(sink.mails()[0]);
    TestSupport::ReceivedMail cut = TestSupport::parseMail(sink.mails()[1]);
    EXPECT_EQ("Abcdefghij klmn has shared files with you", whole.subject);
    EXPECT_EQ("Abcdefghij klmn... has shared files with you", cut.subject);
    ASSERT_EQ(1u, cut.parts.size());
    EXPECT_EQ(body("Abcdefghij klmno", f["url"], ""), cut.parts.front());
}

TEST_F(AdminEmail, LoginWhenAUserIsConfigured) {
    SmtpSink sink;
    useSink(sink);
    API::ProfileManager::setProperty("smtp.user", "ann");
    API::ProfileManager::setProperty("smtp.password", "pw");
    EXPECT_EQ(SENT, send(fields()).body);
    const auto commands = sink.commands();
    EXPECT_TRUE(hasLine(commands, "AUTH LOGIN"));
    EXPECT_TRUE(hasLine(commands, "YW5u"));  // "ann"
    EXPECT_TRUE(hasLine(commands, "cHc="));  // "pw"
    EXPECT_EQ(1u, sink.mails().size());
}

TEST_F(AdminEmail, ServerRefusalsAnswerTheServersText) {
    SmtpSink sink;
    useSink(sink);
    sink.rejectRecipientsWith("550 5.1.1 <bob@example.com>: No such user here");
    const std::string answer = send(fields()).body;
    EXPECT_EQ(0u, answer.find("<emailstatus><status>0</status><reason>"));
    EXPECT_NE(std::string::npos, reasonOf(answer).find("No such user here")) << answer;
    EXPECT_NE(std::string::npos, answer.find("&lt;bob@example.com&gt;")) << "escaped";
    EXPECT_TRUE(sink.mails().empty());
}

TEST_F(AdminEmail, StartTlsRefusedByTheServerIsAFailure) {
    SmtpSink sink;
    sink.offerStartTls(true);
    useSink(sink);
    API::ProfileManager::setProperty("smtp.starttls", "true");
    const std::string answer = send(fields()).body;
    EXPECT_NE(std::string::npos, reasonOf(answer).find("TLS not available")) << answer;
    EXPECT_TRUE(hasLine(sink.commands(), "STARTTLS"));
    EXPECT_TRUE(sink.mails().empty());
}

TEST_F(AdminEmail, UnreachableServerAnswersStatusZeroWithReason) {
    int port = 0;
    {
        Poco::Net::ServerSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
        port = probe.address().port();
    }
    API::ProfileManager::setProperty("smtp.host", "127.0.0.1");
    API::ProfileManager::setProperty("smtp.port", std::to_string(port));
    const std::string answer = send(fields()).body;
    EXPECT_EQ(0u, answer.find("<emailstatus><status>0</status><reason>")) << answer;
    EXPECT_FALSE(reasonOf(answer).empty()) << answer;
}

TEST_F(AdminEmail, PublicLinkOfAShare) {
    auto share = addShare("Photos", "GALLERY", 1);
    EXPECT_EQ(share->getURL(false),
              call(ownerRequest("geturlforemail", "sharename=%20Photos")).body);
    EXPECT_NE("", share->getURL(false));
    EXPECT_EQ("", call(ownerRequest("geturlforemail", "sharename=Nothing")).body);
    EXPECT_EQ(Util::HTTP::getXMLResult("geturlforemail", false, ""),
              call(ownerRequest("geturlforemail")).body);
}

TEST_F(AdminEmail, LocalNetworkLinks) {
    const int oldPort = API::ProfileManager::getHTTPPort();
    API::ProfileManager::setHTTPPort(9345);
    std::string ip;
    bool isIPv6 = false;
    if (!Util::getPrivateIPAddress(ip, isIPv6))
        ip = "127.0.0.1";
    const std::string base = "http://" + ip + ":9345";

    addShare("Closed", "", 0);
    EXPECT_EQ(base + "#guest",
              call(ownerRequest("getprivateurlforemail", "sharename=Closed")).body);

    auto gallery = addShare("Open Gallery", "GALLERY", 1);
    auto table = addShare("Open", "", 1);
    std::string location;
    for (auto share : {gallery, table}) {
        const std::string answer =
            call(ownerRequest("getprivateurlforemail", "sharename=" + enc(share->shareName))).body;
        ASSERT_EQ(0u, answer.find(base + "/url")) << answer;
        std::string path;
        ASSERT_TRUE(ShortURLManager().resolveShortURL(answer.substr(base.size() + 4), path));
        Poco::URI::encode(share->shareLocation, Defs::HTTP::URL_SPECIAL_CHARS, location);
        const std::string form = share == gallery ? "expl-grid." : "expl-tabl.";
        EXPECT_EQ("/ui/core/index.html?mode=public#" + form + location, path);
        location.clear();
    }
    EXPECT_EQ("", call(ownerRequest("getprivateurlforemail", "sharename=Nothing")).body);
    API::ProfileManager::setHTTPPort(oldPort);
}

}  // namespace
