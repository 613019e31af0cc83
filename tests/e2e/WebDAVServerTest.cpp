// The host's WebDAV server on share addresses, method by method, against a
// real host: what each answers, what lands on disk, and that every XML
// answer is well-formed for a real parser.
#include <gtest/gtest.h>

#include <Poco/File.h>

#include "DavSupport.h"

using namespace E2E;

namespace {

const std::string PROPS_NS = "http://example.com/ns/";

}  // namespace

class WebDAVServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        host->writeProperties("timeout.seconds=5\n");
        writer = host->addGuest("writer", "wpass");
        reader = host->addGuest("reader", "rpass");
        host->start();
        DavHost dav(*host);
        box = host->root + "/box";
        const int id = dav.addShare("box", box, false);
        dav.grant(id, writer, true);
        dav.grant(id, reader, false);
        small = host->root + "/small";
        dav.grant(dav.addShare("small", small, false, 1), writer, true);
        dav.grant(dav.addShare("other", host->root + "/other", false), writer, true);
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }

    static std::string at(const std::string& path) { return "/app/dapplinepro/share/" + path; }

    Answer dav(const std::string& method, const std::string& path, const std::string& body = "",
               std::map<std::string, std::string> headers = {}, const std::string& user = "writer",
               const std::string& password = "wpass") {
        if (!user.empty())
            headers["Authorization"] = basicAuth(user, password);
        if (!body.empty())
            headers["Content-Type"] = "application/xml";
        return host->client().send(method, at(path), body, headers);
    }

    static RunningHost* host;
    static int writer, reader;
    static std::string box, small;
};

RunningHost* WebDAVServer::host = nullptr;
int WebDAVServer::writer = -1;
int WebDAVServer::reader = -1;
std::string WebDAVServer::box;
std::string WebDAVServer::small;

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
    EXPECT_EQ(207, dav("PROPFIND", "box/", "", {{"Depth", "0"}}, "reader", "rpass").status);
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
        runShell("curl -s -o /dev/null -w '%{http_code}' -u writer:wpass -T - " +
                 shellQuote(DavHost(*host).url(at("box/chunked.bin"))) + " < " + shellQuote(src));
    EXPECT_EQ("201", c.output);
    EXPECT_EQ(readFile(src), readFile(box + "/chunked.bin"));
    // GET goes the ordinary way and gives the same bytes.
    EXPECT_EQ(readFile(src), dav("GET", "box/chunked.bin").body);

    EXPECT_EQ(409, dav("PUT", "box/no/parent.txt", "x").status);
    EXPECT_EQ(403, dav("PUT", "box/ro.txt", "x", {}, "reader", "rpass").status);
    EXPECT_FALSE(Poco::File(box + "/ro.txt").exists());
}

TEST_F(WebDAVServer, PutOverTheSizeLimitIs507) {
    writeNew(small + "/fill.bin", std::string(2000, 'f'));
    EXPECT_EQ(507, dav("PUT", "small/more.bin", "more").status);
    EXPECT_FALSE(Poco::File(small + "/more.bin").exists());
    EXPECT_EQ(204, dav("DELETE", "small/fill.bin").status);
}

TEST_F(WebDAVServer, MkcolAndDelete) {
    EXPECT_EQ(201, dav("MKCOL", "box/made").status);
    EXPECT_TRUE(Poco::File(box + "/made").isDirectory());
    EXPECT_EQ(405, dav("MKCOL", "box/made").status);
    EXPECT_EQ(409, dav("MKCOL", "box/none/made").status);
    EXPECT_EQ(415, dav("MKCOL", "box/body", "<x/>").status);
    writeNew(box + "/made/inner/f.txt", "f");
    EXPECT_EQ(403, dav("DELETE", "box/made", "", {}, "reader", "rpass").status);
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
    EXPECT_EQ(403, dav("PROPPATCH", "box/props.txt", set, {}, "reader", "rpass").status);

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
