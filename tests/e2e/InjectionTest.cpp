// Hostile names against a real host: folders and files named with <script>,
// quotes, "&", CR and LF, bytes that are not UTF-8 and 255-byte names are
// listed (file list, gallery and music pages), downloaded, zipped, uploaded
// and listed over WebDAV and by the explorer. Pages hold the escaped form
// and never a raw tag from a name; no header carries a line break, a control
// or a raw quote from a name, and Content-Disposition has an RFC 5987
// filename*; every XML answer is well-formed to a real parser.
#include <gtest/gtest.h>

#include <Poco/File.h>

#include <algorithm>
#include <iostream>

#include "AttackSupport.h"

using namespace E2E;

namespace {

std::uint64_t g_requests = 0;

// One name of each kind; the folder holds a copy of each again.
std::vector<std::string> hostileNames() {
    return {"<script>alert(1)<\\script>.txt",
            "q\"uote'apos&amp;.txt",
            "cr\rlf\nname.txt",
            "bad\xff\xfe\xc3(.txt",
            std::string(251, 'L') + ".txt",
            "<img src=x onerror=alert(2)>.jpg",
            "\"'><script>music.mp3"};
}

const char* const kFolder = "<b onmouseover=\"x\">'&dir";

std::string withoutRawTags(const std::string& page) {
    for (const char* raw : {"<script>", "<img src=x", "<b onmouseover", "<\\script>"}) {
        if (page.find(raw) != std::string::npos)
            return std::string("raw ") + raw + " in the page";
    }
    for (const char* raw : {"q\"uote", "\"'>"}) {
        if (page.find(raw) != std::string::npos)
            return std::string("raw quote of ") + raw + " in the page";
    }
    return std::string();
}

// The Content-Disposition of a download: quotes only around the plain
// filename, and an RFC 5987 filename* that decodes to something.
std::string dispositionProblem(const RawAnswer& a) {
    const std::string value = a.header("content-disposition");
    if (value.empty())
        return "no Content-Disposition";
    const std::string::size_type plain = value.find("filename=\"");
    const std::string::size_type star = value.find("filename*=UTF-8''");
    if (star == std::string::npos)
        return "no filename*: " + value;
    if (plain == std::string::npos)
        return "no quoted filename: " + value;
    const std::string::size_type close = value.find('"', plain + 10);
    if (close == std::string::npos || close > star ||
        std::count(value.begin(), value.end(), '"') != 2)
        return "a raw quote: " + value;
    return std::string();
}

}  // namespace

class Injection : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        host->writeProperties("timeout.seconds=10\n");
        const int writer = host->addGuest("writer", "wpass12345");
        // Zip caps count per client address, told by a trusted proxy.
        host->start({"--trusted-proxy", "127.0.0.1"});
        folder = host->root + "/names";
        for (const std::string& name : hostileNames()) {
            writeNew(folder + "/" + name, "content of " + name + "\n");
            writeNew(folder + "/" + kFolder + "/" + name, "inner " + name + "\n");
        }
        // Hidden entries, which no zip may hold.
        for (const std::string& hidden : {std::string("/.env"), std::string("/.git/config"),
                                          "/" + std::string(kFolder) + "/.ssh/id_rsa"})
            writeNew(folder + hidden, "secret\n");
        DavHost dav(*host);
        dav.addShare("n", folder, true);
        const int id = dav.addShare("w", host->root + "/drop", false);
        dav.grant(id, writer, true);
        cookie = guestCookie(host->port, "writer", "wpass12345");
    }
    static void TearDownTestSuite() {
        std::cout << "[ injection ] " << g_requests << " requests\n";
        delete host;
        host = nullptr;
    }
    void TearDown() override { g_requests += client.count(); }

    RawAnswer get(const std::string& target, const HeaderList& headers = {}) {
        RawAnswer a = client.get(target, headers);
        EXPECT_EQ(badHeaderLines(a), "") << target;
        return a;
    }

    static RunningHost* host;
    static std::string folder, cookie;
    RawClient client{host->port};
};

RunningHost* Injection::host = nullptr;
std::string Injection::folder;
std::string Injection::cookie;

TEST_F(Injection, PagesHoldTheEscapedNamesAndNoRawTag) {
    const std::string dir = percentEncode(kFolder, false);
    for (const std::string& at : {std::string(), dir + "/"}) {
        for (const std::string& view : {"?vm=list", "?vm=gallery", "?vm=music"}) {
            const std::string target = "/app/dapplinepro/share/n/" + at + view;
            RawAnswer page = get(target);
            ASSERT_EQ(page.status, 200) << target;
            EXPECT_EQ(withoutRawTags(page.body), "") << target << "\n" << page.body;
            const bool listsFiles = view == std::string("?vm=list");
            if (listsFiles) {
                EXPECT_NE(page.body.find("&lt;script&gt;alert(1)"), std::string::npos) << target;
                EXPECT_NE(page.body.find(std::string(251, 'L')), std::string::npos) << target;
            }
            if (at.empty() && listsFiles)
                EXPECT_NE(page.body.find("&lt;b onmouseover="), std::string::npos) << page.body;
        }
    }
}

TEST_F(Injection, TheSlashPageEscapesTheAddress) {
    RawAnswer page = get("/app/dapplinepro/share/n/" + percentEncode(kFolder, false));
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("missing a '/'"), std::string::npos) << page.body;
    EXPECT_EQ(withoutRawTags(page.body), "") << page.body;
}

TEST_F(Injection, DownloadsKeepNamesOutOfTheHeaders) {
    for (const std::string& at : {std::string(), std::string(kFolder) + "/"}) {
        for (const std::string& name : hostileNames()) {
            for (const std::string& action : {"?action=download", "", "?action=open"}) {
                const std::string target =
                    "/app/dapplinepro/share/n/" + percentEncode(at + name, true) + action;
                RawAnswer a = get(target);
                ASSERT_EQ(a.status, 200) << target;
                EXPECT_EQ(a.body, (at.empty() ? "content of " : "inner ") + name + "\n");
                if (action != "?action=open")
                    EXPECT_EQ(dispositionProblem(a), "") << target;
            }
        }
    }
}

TEST_F(Injection, ZipsListEveryName) {
    RawAnswer started = get("/app/dapplinepro/share/n/?startzip");
    const std::string id = xmlText(started.body, "id");
    ASSERT_FALSE(id.empty()) << started.body;
    ASSERT_TRUE(pollUntil([&] {
        return xmlText(client.get("/app/dapplinepro/share/n/?zipstatus&id=" + id).body,
                       "finished") == "1";
    }));
    RawAnswer zip = get("/app/dapplinepro/share/n/?downloadaszip&id=" + id);
    ASSERT_EQ(zip.status, 200) << zip.body;
    EXPECT_EQ(dispositionProblem(zip), "");
    const std::vector<std::string> names = zipNames(zip.body, host->root + "/scratch");
    const std::string all = [&] {
        std::string joined;
        for (const auto& n : names)
            joined += n + "\n";
        return joined;
    }();
    for (const std::string& name :
         {std::string("<script>alert(1)<\\script>.txt"), std::string("q\"uote'apos&amp;.txt"),
          std::string(251, 'L') + ".txt"}) {
        EXPECT_NE(all.find(name), std::string::npos) << name << " not in\n" << all;
        EXPECT_NE(all.find(std::string(kFolder) + "/" + name), std::string::npos) << all;
    }
    EXPECT_GE(names.size(), 2 * hostileNames().size()) << all;
    for (const std::string& name : names)
        EXPECT_TRUE(name[0] != '.' && name.find("/.") == std::string::npos) << name;
}

// Two jobs of one client address and four in all (then "busy"); a job
// belongs to the client that started it: another address, or a signed-in
// guest at the same address, can neither watch nor take it. Addresses come
// through the trusted proxy's X-Forwarded-For.
TEST_F(Injection, ZipJobsAreCappedAndBelongToTheirClient) {
    const std::string page = "/app/dapplinepro/share/n/";
    const auto from = [](const std::string& address) {
        return HeaderList{{"X-Forwarded-For", address}};
    };
    const auto start = [&](const HeaderList& who) { return get(page + "?startzip", who).body; };
    std::vector<std::pair<std::string, HeaderList>> jobs;
    for (const char* address : {"10.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.2"}) {
        jobs.emplace_back(xmlText(start(from(address)), "id"), from(address));
        ASSERT_FALSE(jobs.back().first.empty()) << address;
    }
    for (const char* address : {"10.0.0.1", "10.0.0.3"}) {
        const std::string busy = start(from(address));
        EXPECT_EQ("0", xmlText(busy, "success")) << busy;
        EXPECT_NE(std::string::npos, busy.find("busy")) << busy;
    }
    const std::string& id = jobs[0].first;
    HeaderList guest = from("10.0.0.1");
    guest.emplace_back("Cookie", cookie);
    for (const HeaderList& other : {from("10.0.0.2"), guest}) {
        EXPECT_EQ("Invalid Zip Id",
                  xmlText(get(page + "?zipstatus&id=" + id, other).body, "message"));
        EXPECT_NE(std::string::npos,
                  get(page + "?downloadaszip&id=" + id, other).body.find("Invalid Zip Id"));
    }
    for (const auto& job : jobs) {
        ASSERT_TRUE(pollUntil([&] {
            return xmlText(client.get(page + "?zipstatus&id=" + job.first, job.second).body,
                           "finished") == "1";
        }));
        const RawAnswer zip = get(page + "?downloadaszip&id=" + job.first, job.second);
        EXPECT_EQ(200, zip.status);
        EXPECT_EQ("PK", zip.body.substr(0, 2));
    }
}

TEST_F(Injection, UploadsStoreHostileNamesSafely) {
    const HeaderList form = {{"Cookie", cookie},
                             {"Content-Type", "multipart/form-data; boundary=zqb"}};
    const std::string target =
        "/app/dapplinepro/upload?appname=dapplinepro&expandzip=0&sharename=w&dirname=w";
    const std::vector<std::string> sent = {
        "<script>up<\\script>.txt",     "up\\\"quote.txt",  "up'&amp;.txt",     "up\xff\xfe.txt",
        std::string(248, 'U') + ".txt", "up%0D%0Aline.txt", "..\\..\\zq-up.txt"};
    for (const std::string& name : sent) {
        RawAnswer a = client.send("POST", target, form, multipartBody("zqb", name, "up\n"));
        EXPECT_EQ(badHeaderLines(a), "") << name;
        EXPECT_LT(a.status, 500) << name << "\n" << a.body;
        EXPECT_EQ(withoutRawTags(a.body), "") << name;
    }
    // The second copy of a 255-byte name has no room for " (1)".
    for (int i = 0; i < 2; ++i) {
        RawAnswer a = client.send("POST", target, form,
                                  multipartBody("zqb", std::string(251, 'M') + ".txt", "up\n"));
        EXPECT_LT(a.status, 500) << i << "\n" << a.body;
    }
    const std::vector<std::string> stored = filesBelow(host->root + "/drop");
    EXPECT_GE(stored.size(), sent.size() + 1);
    for (const std::string& name : stored) {
        EXPECT_EQ(name.find_first_of("\r\n/"), std::string::npos) << name;
        EXPECT_EQ(readFile(host->root + "/drop/" + name), "up\n") << name;
    }
    // The answer's page leads back to the folder named in the query.
    RawAnswer into = client.send("POST", target + "/" + percentEncode("<script>x\"'&", false), form,
                                 multipartBody("zqb", "in.txt", "up\n"));
    EXPECT_EQ(into.status, 200) << into.body;
    EXPECT_EQ(withoutRawTags(into.body), "") << into.body;
    EXPECT_EQ(into.body.find("<script>x"), std::string::npos) << into.body;
    RawAnswer page = get("/app/dapplinepro/share/w/", {{"Cookie", cookie}});
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(withoutRawTags(page.body), "") << page.body;
    EXPECT_NE(page.body.find("&lt;script&gt;up"), std::string::npos) << page.body;
    EXPECT_NO_THROW(parseXml(DavHost(*host).uploads()));
}

TEST_F(Injection, WebDAVListingsAreWellFormed) {
    HeaderList depth1 = {{"Depth", "1"}};
    for (const std::string& at : {std::string(), percentEncode(kFolder, false) + "/"}) {
        RawAnswer a = client.send("PROPFIND", "/app/dapplinepro/share/n/" + at, depth1);
        ASSERT_EQ(a.status, 207) << a.body;
        EXPECT_EQ(badHeaderLines(a), "");
        std::vector<std::string> hrefs;
        ASSERT_NO_THROW(hrefs = xmlTexts(a.body, "DAV:", "href")) << a.body;
        EXPECT_EQ(hrefs.size(), hostileNames().size() + 1 + (at.empty() ? 1 : 0)) << a.body;
        std::vector<std::string> shown;
        ASSERT_NO_THROW(shown = xmlTexts(a.body, "DAV:", "displayname"));
        const std::string joined = [&] {
            std::string j;
            for (const auto& s : shown)
                j += s + "\n";
            return j;
        }();
        EXPECT_NE(joined.find("<script>alert(1)<\\script>.txt"), std::string::npos) << joined;
    }
    // The same names written over WebDAV come back well-formed as well;
    // a name holding a control character (CR, LF) is refused by the host.
    const HeaderList who = {{"Cookie", cookie}};
    ASSERT_EQ(client.send("MKCOL", "/app/dapplinepro/share/w/dav", who).status, 201);
    std::size_t stored = 0;
    for (const std::string& name : hostileNames()) {
        const std::string path = "/app/dapplinepro/share/w/dav/" + percentEncode(name, false);
        RawAnswer put = client.send("PUT", path, who, "dav\n");
        const bool control = name.find_first_of("\r\n") != std::string::npos;
        EXPECT_EQ(put.status, control ? 400 : 201) << name;
        stored += control ? 0 : 1;
    }
    // A name the file system cannot hold is the client's mistake, not ours.
    RawAnswer tooLong = client.send(
        "PUT", "/app/dapplinepro/share/w/dav/" + std::string(256, 'X') + ".txt", who, "long\n");
    EXPECT_EQ(tooLong.status, 400);
    HeaderList list = who;
    list.emplace_back("Depth", "1");
    RawAnswer a = client.send("PROPFIND", "/app/dapplinepro/share/w/dav/", list);
    ASSERT_EQ(a.status, 207);
    std::vector<std::string> hrefs;
    ASSERT_NO_THROW(hrefs = xmlTexts(a.body, "DAV:", "href")) << a.body;
    EXPECT_EQ(hrefs.size(), stored + 1) << a.body;
}

// Bodies of elements nested hundreds of thousands deep, closed or never
// closed: above the body cap they are refused unread, below it the depth is
// refused while the body streams by. The host answers the next page.
TEST_F(Injection, DeeplyNestedBodiesCannotEndTheHost) {
    const HeaderList depth1 = {{"Depth", "1"}, {"Content-Type", "application/xml"}};
    auto nested = [](std::size_t bytes, bool closed) {
        const std::size_t levels = closed ? bytes / 7 : bytes / 3;
        std::string body;
        for (std::size_t i = 0; i < levels; ++i)
            body += "<a>";
        for (std::size_t i = 0; closed && i < levels; ++i)
            body += "</a>";
        return body;
    };
    for (bool closed : {false, true}) {
        RawClient fresh{host->port};
        EXPECT_EQ(
            fresh.send("PROPFIND", "/app/dapplinepro/share/n/", depth1, nested(1024 * 1024, closed))
                .status,
            413);
        EXPECT_EQ(
            fresh.send("PROPFIND", "/app/dapplinepro/share/n/", depth1, nested(60 * 1024, closed))
                .status,
            400);
        const HeaderList who = {{"Cookie", cookie}, {"Content-Type", "application/xml"}};
        EXPECT_EQ(
            fresh
                .send("PROPPATCH", "/app/dapplinepro/share/w/", who,
                      "<D:propertyupdate xmlns:D=\"DAV:\"><D:set><D:prop><x:p xmlns:x=\"y\">" +
                          nested(60 * 1024, closed) + "</x:p></D:prop></D:set></D:propertyupdate>")
                .status,
            400);
    }
    RawAnswer page = client.get("/app/dapplinepro/share/n/");
    EXPECT_EQ(page.status, 200);
}

TEST_F(Injection, ExplorerListingsAreWellFormed) {
    for (const HeaderList& who : {HeaderList{{"Cookie", cookie}}, HeaderList()}) {
        for (const std::string& at : {folder, folder + "/" + kFolder}) {
            RawAnswer a = client.postForm(
                "/app/dapplinepro/getfilelist",
                "path=" + percentEncode(at, true) + "&start=0&limit=100&filter=&search=", who);
            EXPECT_EQ(badHeaderLines(a), "");
            if (a.status == 403)
                continue;  // a guest of another share: nothing to list
            ASSERT_EQ(a.status, 200) << a.body;
            EXPECT_NO_THROW(parseXml(a.body)) << a.body;
            EXPECT_EQ(a.body.find("<script>"), std::string::npos) << a.body;
        }
        RawAnswer dirs = client.postForm("/app/dapplinepro/getdirectorylist",
                                         "directory=" + percentEncode(folder, true), who);
        if (dirs.status == 200)
            EXPECT_NO_THROW(parseXml(dirs.body)) << dirs.body;
    }
}
