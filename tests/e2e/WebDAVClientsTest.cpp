// Real WebDAV clients against a real host: rclone copies a tree up and back,
// cadaver runs a scripted session, and the litmus groups basic, copymove,
// props, locks and http pass on a share with a writing guest.
#include <gtest/gtest.h>

#include <Poco/File.h>

#include <sys/stat.h>

#include <regex>

#include "DavSupport.h"

using namespace E2E;

class WebDAVClients : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        host->writeProperties("timeout.seconds=10\n");
        const int writer = host->addGuest("writer", "wpass");
        host->start();
        DavHost dav(*host);
        box = host->root + "/box";
        dav.grant(dav.addShare("box", box, false), writer, true);
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }
    void SetUp() override {
        for (const char* tool : {"rclone", "cadaver", "litmus"})
            ASSERT_TRUE(haveProgram(tool)) << tool << " is missing: run scripts/install-deps";
    }
    static std::string shareUrl() { return DavHost(*host).url("/app/dapplinepro/share/box/"); }

    static RunningHost* host;
    static std::string box;
};

RunningHost* WebDAVClients::host = nullptr;
std::string WebDAVClients::box;

TEST_F(WebDAVClients, RcloneCopiesATreeUpAndBackUnchanged) {
    const std::string src = host->root + "/tree";
    writeNew(src + "/top.txt", "top\n");
    writeNew(src + "/deep/er/file with space.bin", std::string(1500000, 'z') + "end");
    writeNew(src +
                 "/deep/\xC3\xBC"
                 "ber.txt",
             "non-ascii\n");
    const Command obscured = runShell("rclone obscure wpass");
    ASSERT_EQ(0, obscured.status) << obscured.output;
    const std::string pass = obscured.output.substr(0, obscured.output.find('\n'));
    writeNew(host->root + "/rclone.conf", "");
    const std::string env =
        "RCLONE_CONFIG=" + shellQuote(host->root + "/rclone.conf") +
        " RCLONE_CONFIG_DAV_TYPE=webdav RCLONE_CONFIG_DAV_URL=" + shellQuote(shareUrl()) +
        " RCLONE_CONFIG_DAV_VENDOR=other RCLONE_CONFIG_DAV_USER=writer"
        " RCLONE_CONFIG_DAV_PASS=" +
        shellQuote(pass) + " ";

    Command up = runShell(env + "rclone copy " + shellQuote(src) + " dav:up");
    ASSERT_EQ(0, up.status) << up.output;
    EXPECT_EQ(filesBelow(src), filesBelow(box + "/up"));
    Command list = runShell(env + "rclone lsf -R dav:up");
    ASSERT_EQ(0, list.status) << list.output;
    EXPECT_NE(std::string::npos, list.output.find("deep/er/file with space.bin"));
    EXPECT_NE(std::string::npos, list.output.find("deep/\xC3\xBC"
                                                  "ber.txt"));

    const std::string back = host->root + "/back";
    Command down = runShell(env + "rclone copy dav:up " + shellQuote(back));
    ASSERT_EQ(0, down.status) << down.output;
    Command same = runShell("diff -r " + shellQuote(src) + " " + shellQuote(back));
    EXPECT_EQ(0, same.status) << same.output;
}

TEST_F(WebDAVClients, CadaverScriptedSession) {
    const std::string home = host->root + "/cadaver-home";
    Poco::File(home).createDirectories();
    writeNew(home + "/.netrc", "machine 127.0.0.1\nlogin writer\npassword wpass\n");
    ::chmod((home + "/.netrc").c_str(), 0600);
    writeNew(home + "/local.txt", "from cadaver\n");
    const std::string script =
        "mkcol cad\n"
        "put local.txt cad/one.txt\n"
        "copy cad/one.txt cad/two.txt\n"
        "move cad/two.txt cad/three.txt\n"
        "propset cad/one.txt colour blue\n"
        "propget cad/one.txt colour\n"
        "ls cad\n"
        "get cad/three.txt fetched.txt\n"
        "delete cad/one.txt\n"
        "quit\n";
    writeNew(home + "/script", script);
    Command c = runShell("cd " + shellQuote(home) + " && HOME=" + shellQuote(home) + " cadaver " +
                         shellQuote(shareUrl()) + " < script");
    EXPECT_EQ(0, c.status) << c.output;
    EXPECT_EQ("from cadaver\n", readFile(home + "/fetched.txt")) << c.output;
    EXPECT_EQ((std::vector<std::string>{"three.txt"}), filesBelow(box + "/cad")) << c.output;
    EXPECT_NE(std::string::npos, c.output.find("blue")) << c.output;
    EXPECT_EQ(std::string::npos, c.output.find("failed:")) << c.output;
}

TEST_F(WebDAVClients, LitmusGroupsPass) {
    // litmus leaves debug.log and child.log where it runs.
    const std::string logs = host->root + "/litmus";
    Poco::File(logs).createDirectories();
    Command c = runShell("cd " + shellQuote(logs) +
                         " && TESTS='basic copymove props locks http' litmus -k " +
                         shellQuote(shareUrl()) + " writer wpass");
    const std::regex summary(
        "summary for `([a-z]+)': of ([0-9]+) tests run: ([0-9]+) passed, "
        "([0-9]+) failed");
    int groups = 0;
    for (std::sregex_iterator it(c.output.begin(), c.output.end(), summary), end; it != end; ++it) {
        ++groups;
        EXPECT_EQ("0", (*it)[4].str()) << (*it)[1] << " failed tests:\n" << c.output;
    }
    EXPECT_EQ(5, groups) << c.output;
    EXPECT_EQ(0, c.status) << c.output;
}
