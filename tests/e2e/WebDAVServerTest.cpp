// The host's WebDAV server on share addresses, method by method, against a
// real host: what each answers, what lands on disk, and that every XML
// answer is well-formed for a real parser.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DavSupport.h"

using namespace E2E;

namespace {

const std::string PROPS_NS = "http://example.com/ns/";

}  // namespace

class WebDAVServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        host->writeProperties("timeout.seconds=30\n");
        writer = host->addGuest("writer", "wpass12345");
        reader = host->addGuest("reader", "rpass12345");
        host->start();
        DavHost dav(*host);
        box = host->root + "/box";
        const int id = dav.addShare("box", box, false);
        dav.grant(id, writer, true);
        dav.grant(id, reader, false);
        small = host->root + "/small";
        dav.grant(dav.addShare("small", small, false, 1), writer, true);
        dav.grant(dav.addShare("other", host->root + "/other", false), writer, true);
        mib = host->root + "/mib";
        dav.grant(dav.addShare("mib", mib, false, 1024), writer, true);
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }

    static std::string at(const std::string& path) { return "/app/dapplinepro/share/" + path; }

    Answer dav(const std::string& method, const std::string& path, const std::string& body = "",
               std::map<std::string, std::string> headers = {}, const std::string& user = "writer",
               const std::string& password = "wpass12345") {
        if (!user.empty())
            headers["Authorization"] = basicAuth(user, password);
        if (!body.empty())
            headers["Content-Type"] = "application/xml";
        return host->client().send(method, at(path), body, headers);
    }

    static RunningHost* host;
    // curl's exit status and answer code for `args` against the share path.
    static Command curl(const std::string& args, const std::string& path) {
        return runShell("curl -s -o /dev/null -w '%{http_code}' -u writer:wpass12345 " + args +
                        " " + shellQuote(DavHost(*host).url(at(path))));
    }

    static int writer, reader;
    static std::string box, small, mib;
};

RunningHost* WebDAVServer::host = nullptr;
int WebDAVServer::writer = -1;
int WebDAVServer::reader = -1;
std::string WebDAVServer::box;
std::string WebDAVServer::small;
std::string WebDAVServer::mib;

TEST_F(WebDAVServer, OptionsAnnouncesClassTwo) {
    Answer a = dav("OPTIONS", "box/");
    EXPECT_EQ(200, a.status);
    EXPECT_EQ("1, 2", a.header("dav"));
    EXPECT_NE(std::string::npos, a.header("allow").find("PROPFIND"));
    EXPECT_EQ(401, dav("OPTIONS", "box/", "", {}, "").status);
    EXPECT_EQ(403, dav("OPTIONS", "nosuch/").status);
}

TEST_F(WebDAVServer, PropfindListsOneLevelWithLiveProperties) {
    writeNew(box + "/list/a file.txt", "twelve bytes");
    Poco::File(box + "/list/sub").createDirectories();
    Answer a = dav("PROPFIND", "box/list", "", {{"Depth", "1"}});
    ASSERT_EQ(207, a.status) << a.body;
    EXPECT_EQ(0u, a.header("content-type").find("application/xml"));
    const auto hrefs = xmlTexts(a.body, "DAV:", "href");
    EXPECT_EQ((std::vector<std::string>{"/app/dapplinepro/share/box/list/",
                                        "/app/dapplinepro/share/box/list/a%20file.txt",
                                        "/app/dapplinepro/share/box/list/sub/"}),
              hrefs);
    EXPECT_EQ("12", davProp(a.body, "a%20file.txt", "DAV:", "getcontentlength"));
    EXPECT_EQ("text/plain",
              davProp(a.body, "a%20file.txt", "DAV:", "getcontenttype").substr(0, 10));
    EXPECT_EQ("a file.txt", davProp(a.body, "a%20file.txt", "DAV:", "displayname"));
    EXPECT_FALSE(davProp(a.body, "a%20file.txt", "DAV:", "getetag").empty());
    EXPECT_FALSE(davProp(a.body, "a%20file.txt", "DAV:", "getlastmodified").empty());
    EXPECT_EQ(2u, xmlTexts(a.body, "DAV:", "collection").size());
    EXPECT_EQ(3u * 2u, xmlTexts(a.body, "DAV:", "lockentry").size());

    Answer zero = dav("PROPFIND", "box/list/", "", {{"Depth", "0"}});
    EXPECT_EQ(1u, xmlTexts(zero.body, "DAV:", "response").size());
    EXPECT_EQ(403, dav("PROPFIND", "box/list/", "", {{"Depth", "infinity"}}).status);
    EXPECT_EQ(404, dav("PROPFIND", "box/missing", "", {{"Depth", "0"}}).status);
    EXPECT_EQ(400, dav("PROPFIND", "box/", "<propfind", {{"Depth", "0"}}).status);
    // Read-only guests may look.
    EXPECT_EQ(207, dav("PROPFIND", "box/", "", {{"Depth", "0"}}, "reader", "rpass12345").status);

    // A folder whose answer outgrows what the host holds before sending is
    // streamed in chunks, yet byte for byte the answers of its members one
    // by one, put together in name order.
    for (int i = 0; i < 200; ++i)
        writeNew(box + "/long/member-" + std::to_string(1000 + i) + ".txt", std::string(i, 'm'));
    Answer listed = dav("PROPFIND", "box/long/", "", {{"Depth", "1"}});
    ASSERT_EQ(207, listed.status);
    EXPECT_EQ("chunked", listed.header("transfer-encoding"));
    const auto responses = [](const std::string& xml) {
        const std::size_t from = xml.find("<D:response>");
        return xml.substr(from, xml.rfind("</D:multistatus>") - from);
    };
    const std::string folder = dav("PROPFIND", "box/long/", "", {{"Depth", "0"}}).body;
    std::string whole = folder.substr(0, folder.find("<D:response>")) + responses(folder);
    for (int i = 0; i < 200; ++i) {
        const std::string name = "member-" + std::to_string(1000 + i) + ".txt";
        whole += responses(dav("PROPFIND", "box/long/" + name, "", {{"Depth", "0"}}).body);
    }
    EXPECT_EQ(whole + "</D:multistatus>", listed.body);
}

TEST_F(WebDAVServer, QuotaFollowsTheShareLimit) {
    writeNew(small + "/q.bin", std::string(1000, 'q'));
    const std::string body =
        "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:quota-used-bytes/>"
        "<D:quota-available-bytes/></D:prop></D:propfind>";
    Answer a = dav("PROPFIND", "small/", body, {{"Depth", "0"}});
    ASSERT_EQ(207, a.status);
    EXPECT_EQ("1000", davProp(a.body, "/small/", "DAV:", "quota-used-bytes"));
    EXPECT_EQ("24", davProp(a.body, "/small/", "DAV:", "quota-available-bytes"));
    // Without a limit the properties are not there.
    Answer b = dav("PROPFIND", "box/", body, {{"Depth", "0"}});
    EXPECT_NE(std::string::npos, b.body.find("404"));
    EXPECT_EQ("", davProp(b.body, "/box/", "DAV:", "quota-used-bytes"));
}

TEST_F(WebDAVServer, PutStoresWholeFilesAlsoChunked) {
    const std::string bytes(70000, 'p');
    EXPECT_EQ(201, dav("PUT", "box/put.bin", bytes).status);
    EXPECT_EQ(bytes, readFile(box + "/put.bin"));
    EXPECT_EQ(204, dav("PUT", "box/put.bin", "replaced").status);
    EXPECT_EQ("replaced", readFile(box + "/put.bin"));
    // What Finder sends: no length, a chunked body.
    const std::string src = host->root + "/chunked.src";
    writeNew(src, std::string(300000, 'c') + "end");
    Command c =
        runShell("curl -s -o /dev/null -w '%{http_code}' -u writer:wpass12345 -T - " +
                 shellQuote(DavHost(*host).url(at("box/chunked.bin"))) + " < " + shellQuote(src));
    EXPECT_EQ("201", c.output);
    EXPECT_EQ(readFile(src), readFile(box + "/chunked.bin"));
    // GET goes the ordinary way and gives the same bytes.
    EXPECT_EQ(readFile(src), dav("GET", "box/chunked.bin").body);

    EXPECT_EQ(409, dav("PUT", "box/no/parent.txt", "x").status);
    EXPECT_EQ(403, dav("PUT", "box/ro.txt", "x", {}, "reader", "rpass12345").status);
    EXPECT_FALSE(Poco::File(box + "/ro.txt").exists());
}

TEST_F(WebDAVServer, PutOverTheSizeLimitIs507) {
    writeNew(small + "/fill.bin", std::string(2000, 'f'));
    EXPECT_EQ(507, dav("PUT", "small/more.bin", "more").status);
    EXPECT_FALSE(Poco::File(small + "/more.bin").exists());
    EXPECT_EQ(204, dav("DELETE", "small/fill.bin").status);
}

// A 1 MiB share: PUT with and without a length, an overwrite that only
// grows a little, COPY after COPY, and rclone copying 5 MiB. The share never
// holds more than its limit, and nothing of a refused write stays.
TEST_F(WebDAVServer, SizeLimitHoldsForPutCopyAndRclone) {
    const long long limit = 1024 * 1024;
    const std::string five = host->root + "/five.bin";
    writeNew(five, std::string(5 * 1024 * 1024, 'v'));
    EXPECT_EQ("507", curl("-T " + shellQuote(five), "mib/five.bin").output);
    EXPECT_EQ("507", curl("-T - < " + shellQuote(five), "mib/chunked.bin").output);
    EXPECT_TRUE(filesBelow(mib).empty());

    EXPECT_EQ(201, dav("PUT", "mib/a.bin", std::string(300 * 1024, 'a')).status);
    int copies = 0;
    for (int i = 0; i < 5; ++i) {
        const int status =
            dav("COPY", "mib/a.bin", "",
                {{"Destination", DavHost(*host).url(at("mib/c" + std::to_string(i)))}})
                .status;
        ASSERT_TRUE(status == 201 || status == 507) << status;
        copies += status == 201 ? 1 : 0;
    }
    EXPECT_EQ(2, copies);
    EXPECT_LE(bytesBelow(mib), limit);
    // Replacing a file needs room only for what it grows by.
    EXPECT_EQ(204, dav("PUT", "mib/a.bin", std::string(350 * 1024, 'b')).status);
    EXPECT_EQ(507, dav("PUT", "mib/a.bin", std::string(500 * 1024, 'b')).status);
    EXPECT_EQ(350u * 1024u, Poco::File(mib + "/a.bin").getSize());

    // What DELETE removes is room again; rclone's 5 MiB still do not fit.
    for (const char* name : {"c0", "c1"})
        EXPECT_EQ(204, dav("DELETE", std::string("mib/") + name).status);
    for (int i = 0; i < 5; ++i)
        writeNew(host->root + "/up/f" + std::to_string(i) + ".bin", std::string(1024 * 1024, 'r'));
    const Command obscured = runShell("rclone obscure wpass12345");
    ASSERT_EQ(0, obscured.status) << obscured.output;
    writeNew(host->root + "/rclone.conf", "");
    const Command up = runShell(
        "RCLONE_CONFIG=" + shellQuote(host->root + "/rclone.conf") +
        " RCLONE_CONFIG_DAV_TYPE=webdav RCLONE_CONFIG_DAV_URL=" +
        shellQuote(DavHost(*host).url(at("mib/"))) +
        " RCLONE_CONFIG_DAV_VENDOR=other RCLONE_CONFIG_DAV_USER=writer RCLONE_CONFIG_DAV_PASS=" +
        shellQuote(obscured.output.substr(0, obscured.output.find('\n'))) +
        " rclone copy --retries 1 --low-level-retries 1 " + shellQuote(host->root + "/up") +
        " dav:up");
    EXPECT_NE(0, up.status) << up.output;
    EXPECT_LE(bytesBelow(mib), limit);
    EXPECT_FALSE(hasTempFiles(mib));
}

TEST_F(WebDAVServer, MkcolAndDelete) {
    EXPECT_EQ(201, dav("MKCOL", "box/made").status);
    EXPECT_TRUE(Poco::File(box + "/made").isDirectory());
    EXPECT_EQ(405, dav("MKCOL", "box/made").status);
    EXPECT_EQ(409, dav("MKCOL", "box/none/made").status);
    EXPECT_EQ(415, dav("MKCOL", "box/body", "<x/>").status);
    writeNew(box + "/made/inner/f.txt", "f");
    EXPECT_EQ(403, dav("DELETE", "box/made", "", {}, "reader", "rpass12345").status);
    EXPECT_EQ(204, dav("DELETE", "box/made").status);
    EXPECT_FALSE(Poco::File(box + "/made").exists());
    EXPECT_EQ(404, dav("DELETE", "box/made").status);
    EXPECT_EQ(403, dav("DELETE", "box/").status);
    EXPECT_TRUE(Poco::File(box).isDirectory());
}

TEST_F(WebDAVServer, CopyAndMoveHonourOverwriteAndDepthAndStayInTheShare) {
    writeNew(box + "/cm/tree/x.txt", "x");
    writeNew(box + "/cm/one.txt", "one");
    const std::string base = DavHost(*host).url(at("box/cm/"));
    EXPECT_EQ(201, dav("COPY", "box/cm/one.txt", "", {{"Destination", base + "two.txt"}}).status);
    EXPECT_EQ("one", readFile(box + "/cm/two.txt"));
    EXPECT_EQ(412, dav("COPY", "box/cm/one.txt", "",
                       {{"Destination", base + "two.txt"}, {"Overwrite", "F"}})
                       .status);
    writeNew(box + "/cm/two.txt", "changed");
    EXPECT_EQ(204, dav("COPY", "box/cm/one.txt", "", {{"Destination", base + "two.txt"}}).status);
    EXPECT_EQ("one", readFile(box + "/cm/two.txt"));

    EXPECT_EQ(
        201,
        dav("COPY", "box/cm/tree", "", {{"Destination", base + "shallow"}, {"Depth", "0"}}).status);
    EXPECT_TRUE(filesBelow(box + "/cm/shallow").empty());
    EXPECT_EQ(201, dav("COPY", "box/cm/tree", "", {{"Destination", base + "deep"}}).status);
    EXPECT_EQ("x", readFile(box + "/cm/deep/x.txt"));
    // A link to the owner's token in a copied folder never brings the token.
    const std::string token = host->profileDir + "/owner.token";
    ASSERT_EQ(0, ::symlink(token.c_str(), (box + "/cm/tree/tok").c_str()));
    EXPECT_EQ(201, dav("COPY", "box/cm/tree", "", {{"Destination", base + "linked"}}).status);
    EXPECT_EQ((std::vector<std::string>{"x.txt"}), filesBelow(box + "/cm/linked"));
    struct stat st;
    EXPECT_NE(0, ::lstat((box + "/cm/linked/tok").c_str(), &st));

    EXPECT_EQ(201, dav("MOVE", "box/cm/deep", "", {{"Destination", base + "moved%20here"}}).status);
    EXPECT_EQ("x", readFile(box + "/cm/moved here/x.txt"));
    EXPECT_FALSE(Poco::File(box + "/cm/deep").exists());
    EXPECT_EQ(409, dav("MOVE", "box/cm/one.txt", "", {{"Destination", base + "no/where"}}).status);

    // Out of the share: refused, and nothing written anywhere.
    for (const std::string& out :
         {base + "../../other/one.txt", base + "%2e%2e/%2e%2e/%2e%2e/one.txt"}) {
        EXPECT_EQ(403, dav("COPY", "box/cm/one.txt", "", {{"Destination", out}}).status) << out;
    }
    EXPECT_EQ(502, dav("COPY", "box/cm/one.txt", "",
                       {{"Destination", DavHost(*host).url(at("other/one.txt"))}})
                       .status);
    EXPECT_FALSE(Poco::File(host->root + "/other/one.txt").exists());
    EXPECT_FALSE(Poco::File(host->root + "/one.txt").exists());
    EXPECT_EQ(400, dav("COPY", "box/cm/one.txt").status);
}

TEST_F(WebDAVServer, DeadPropertiesAreKeptAndFollowMoves) {
    writeNew(box + "/props.txt", "p");
    const std::string set =
        "<?xml version=\"1.0\"?><D:propertyupdate xmlns:D=\"DAV:\" xmlns:Z=\"" + PROPS_NS +
        "\"><D:set><D:prop><Z:colour>blue &amp; &lt;green&gt;</Z:colour>"
        "<Z:tree><Z:leaf a=\"1\">x</Z:leaf></Z:tree></D:prop></D:set></D:propertyupdate>";
    Answer patched = dav("PROPPATCH", "box/props.txt", set);
    ASSERT_EQ(207, patched.status) << patched.body;
    EXPECT_NE(std::string::npos, patched.body.find("200"));
    EXPECT_EQ(403, dav("PROPPATCH", "box/props.txt", set, {}, "reader", "rpass12345").status);

    EXPECT_EQ(201, dav("MOVE", "box/props.txt", "",
                       {{"Destination", DavHost(*host).url(at("box/props2.txt"))}})
                       .status);
    Answer all = dav("PROPFIND", "box/props2.txt", "", {{"Depth", "0"}});
    EXPECT_EQ("blue & <green>", davProp(all.body, "props2.txt", PROPS_NS, "colour"));
    EXPECT_EQ("x", davProp(all.body, "props2.txt", PROPS_NS, "leaf"));

    const std::string protect =
        "<?xml version=\"1.0\"?><D:propertyupdate xmlns:D=\"DAV:\" xmlns:Z=\"" + PROPS_NS +
        "\"><D:set><D:prop><D:getetag>x</D:getetag><Z:colour>red</Z:colour></D:prop></D:set>"
        "</D:propertyupdate>";
    Answer refused = dav("PROPPATCH", "box/props2.txt", protect);
    EXPECT_NE(std::string::npos, refused.body.find("403"));
    EXPECT_NE(std::string::npos, refused.body.find("424"));
    all = dav("PROPFIND", "box/props2.txt", "", {{"Depth", "0"}});
    EXPECT_EQ("blue & <green>", davProp(all.body, "props2.txt", PROPS_NS, "colour"));
    EXPECT_TRUE(Poco::File(host->profileDir + "/webdav.db").exists());
}

TEST_F(WebDAVServer, LocksGuardWritesUntilUnlocked) {
    writeNew(box + "/locked.txt", "l");
    const std::string info =
        "<?xml version=\"1.0\"?><D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/>"
        "</D:lockscope><D:locktype><D:write/></D:locktype><D:owner>me &amp; you</D:owner>"
        "</D:lockinfo>";
    Answer locked = dav("LOCK", "box/locked.txt", info, {{"Timeout", "Second-600"}});
    ASSERT_EQ(200, locked.status) << locked.body;
    const std::string token = xmlTexts(locked.body, "DAV:", "href").at(0);
    EXPECT_EQ("<" + token + ">", locked.header("lock-token"));
    const std::string timeout = xmlTexts(locked.body, "DAV:", "timeout").at(0);
    ASSERT_EQ(0u, timeout.find("Second-"));
    EXPECT_GT(std::stoi(timeout.substr(7)), 500);
    EXPECT_LE(std::stoi(timeout.substr(7)), 600);
    EXPECT_EQ("me & you", xmlTexts(locked.body, "DAV:", "owner").at(0));

    EXPECT_EQ(423, dav("PUT", "box/locked.txt", "other").status);
    EXPECT_EQ(423, dav("DELETE", "box/locked.txt").status);
    EXPECT_EQ(423, dav("LOCK", "box/locked.txt", info).status);
    EXPECT_EQ(412,
              dav("PUT", "box/locked.txt", "x", {{"If", "(<" + token + "> [\"bogus\"])"}}).status);
    EXPECT_EQ(204, dav("PUT", "box/locked.txt", "mine", {{"If", "(<" + token + ">)"}}).status);
    EXPECT_EQ("mine", readFile(box + "/locked.txt"));
    Answer discovered = dav("PROPFIND", "box/locked.txt", "", {{"Depth", "0"}});
    EXPECT_EQ(token, davProp(discovered.body, "locked.txt", "DAV:", "locktoken"));

    EXPECT_EQ(409,
              dav("UNLOCK", "box/locked.txt", "", {{"Lock-Token", "<opaquelocktoken:x>"}}).status);
    EXPECT_EQ(204, dav("UNLOCK", "box/locked.txt", "", {{"Lock-Token", "<" + token + ">"}}).status);
    EXPECT_EQ(204, dav("PUT", "box/locked.txt", "free").status);

    // A lock on an unmapped address makes an empty file.
    Answer fresh = dav("LOCK", "box/new-locked.txt", info);
    EXPECT_EQ(201, fresh.status);
    EXPECT_TRUE(Poco::File(box + "/new-locked.txt").exists());
}
