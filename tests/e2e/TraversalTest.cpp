// Path traversal against a real host: every text made of the pieces %, 25,
// 2e, 2f, 5c, ., /, \ and %00 is tried after a share's address, in upload
// folders and file names, in WebDAV Destination headers, in the explorer's
// parameters (a guest signed in and anonymously) and in zip ids, with a
// canary beside the share folder and links in the share leading out of it.
// Nothing outside the share may be read (the canary's text never comes
// back), listed, written or deleted (the snapshot of everything outside the
// share is unchanged). Hidden entries inside a share, and the profile in a
// share that holds it, are as unreachable as what lies outside. The suite
// prints how many requests it tried.
//
// Each place gets the texts up to a length that keeps the suite within a
// couple of minutes on a small machine under the sanitizers (5 after the
// share's address, fewer where every request writes files);
// ORVANE_ATTACK_DEPTH=N tries every text up to length N everywhere (8 tries
// all 332690 of them).
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "AttackSupport.h"

using namespace E2E;

namespace {

const char* const kOutsideNames[] = {"zq-canary.txt", "zq-deep.txt", "zq-beside.txt",
                                     "zq-outside",    "owner.token", "guestusers.db"};

std::size_t depth(std::size_t fallback) {
    const char* text = std::getenv("ORVANE_ATTACK_DEPTH");
    const long depth = text ? std::atol(text) : 0;
    return depth > 0 && depth <= 8 ? static_cast<std::size_t>(depth) : fallback;
}

// Collects what went wrong; the first few cases are shown in full.
class Findings {
public:
    void escape(const std::string& what) { add(m_escapes, what); }
    void fault(const std::string& what) { add(m_faults, what); }
    std::size_t escapes() const { return m_escapes.first; }
    std::size_t faults() const { return m_faults.first; }
    std::string text() const { return m_escapes.second + m_faults.second; }

private:
    using Tally = std::pair<std::size_t, std::string>;
    static void add(Tally& tally, const std::string& what) {
        if (++tally.first <= 12)
            tally.second += what + "\n";
    }
    Tally m_escapes{0, ""}, m_faults{0, ""};
};

std::uint64_t g_requests = 0;
std::size_t g_escapes = 0;

std::string clip(const std::string& text) {
    return text.size() > 300 ? text.substr(0, 300) + "..." : text;
}

}  // namespace

class Traversal : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        host->writeProperties("timeout.seconds=10\n");
        writerId = host->addGuest("writer", "wpass12345");
        host->start();
        field = new CanaryField(host->root + "/field");
        DavHost dav(*host);
        const int priv = dav.addShare("t", field->share, false);
        dav.grant(priv, writerId, true);
        dav.addShare("p", field->pub, true);
        cookie = guestCookie(host->port, "writer", "wpass12345");
    }
    static void TearDownTestSuite() {
        std::cout << "[ traversal ] " << g_requests << " requests, " << g_escapes << " escapes\n";
        delete field;
        delete host;
        field = nullptr;
        host = nullptr;
    }

    void SetUp() override { before = field->snapshot(); }

    void TearDown() override {
        const std::string changes = field->changesSince(before);
        if (!changes.empty())
            found.escape("outside the share changed:\n" + changes);
        for (const std::string& folder : {field->share, field->pub}) {
            for (const std::string& name : plainFilesBelow(folder)) {
                if (field->leaks(readFile(folder + "/" + name)))
                    found.escape("the canary was brought into the share as " + name);
            }
        }
        g_requests += client.count();
        g_escapes += found.escapes();
        std::cout << "[ traversal ] " << client.count() << " requests, " << found.escapes()
                  << " escapes, " << found.faults() << " faults\n";
        EXPECT_EQ(found.escapes(), 0u) << found.text();
        EXPECT_EQ(found.faults(), 0u) << found.text();
        restoreShare();
    }

    // The tests may rename or move the share's own files; later tests want
    // them back.
    static void restoreShare() {
        for (const std::string& folder : {field->share, field->pub}) {
            for (const char* name : {"hello.txt", "mv.txt"}) {
                if (!Poco::File(folder + "/" + name).exists())
                    writeFile(folder + "/" + name, "restored\n");
            }
        }
    }

    // An answer to a request whose target or parameters hold `asked`: the
    // canary's text never comes back; outside names only when asked for
    // (an error page may repeat the address it was given).
    void check(const RawAnswer& a, const std::string& what, const std::string& asked) {
        if (field->leaks(a))
            return found.escape("canary read by " + what + ": " + clip(a.body));
        for (const char* name : kOutsideNames) {
            if (asked.find(name) == std::string::npos &&
                (a.body.find(name) != std::string::npos || a.head.find(name) != std::string::npos))
                return found.escape("outside listed by " + what + ": " + clip(a.body));
        }
        // 502: a Destination the host does not serve (another share, or an
        // address that does not parse).
        const bool destination = what.compare(0, 4, "COPY") == 0 || what.compare(0, 4, "MOVE") == 0;
        if (a.status >= 500 && a.status != 507 && !(destination && a.status == 502))
            found.fault(std::to_string(a.status) + " for " + what + ": " + clip(a.body));
    }

    void get(const std::string& target, const HeaderList& headers = {}) {
        check(client.get(target, headers), "GET " + target, target);
    }

    static std::string explorerBody(const std::string& op, const std::string& piece,
                                    const std::string& folder) {
        const std::string s = folder + "/";
        if (op == "createfolder")
            return "path=" + s + piece + "zq-made";
        if (op == "renamefile")
            return "path=" + s + piece + "zq-beside.txt&name=zq-taken";
        if (op == "renamefile-name")
            return "path=" + s + "hello.txt&name=" + piece + "zq-beside.txt";
        if (op == "deletefile")
            return "path=" + s + piece + "zq-beside.txt";
        if (op == "copyfile")
            return "path=" + s + piece + "zq-beside.txt&copyto=" + folder;
        if (op == "copyfile-to")
            return "path=" + s + "hello.txt&copyto=" + s + piece;
        if (op == "renameormove")
            return "fromname=" + s + piece + "zq-beside.txt&toname=" + s + "zq-taken";
        if (op == "renameormove-to")
            return "fromname=" + s + "mv.txt&toname=" + s + piece + "zq-moved";
        if (op == "fileexists")
            return "file=" + s + piece + "zq-beside.txt";
        return "path=" + s + piece + "&start=0&limit=100&filter=&search=";  // getfilelist
    }

    // The explorer must answer "no" (or not exist yet) for a path outside.
    void explorer(const std::string& op, const std::string& piece, const HeaderList& who) {
        const std::string name = op.substr(0, op.find('-'));
        const std::string body = explorerBody(op, piece, who.empty() ? field->pub : field->share);
        const RawAnswer a = client.postForm("/app/dapplinepro/" + name, body, who);
        const std::string what = "POST " + name + " " + body;
        check(a, what, body);
        if (name == "fileexists" && xmlText(a.body, "success") == "1" && !exists(body.substr(5)))
            found.escape("fileexists answered 1 outside: " + what);
    }

    static bool exists(const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }

    static RunningHost* host;
    static CanaryField* field;
    static int writerId;
    static std::string cookie;
    RawClient client{host->port};
    Findings found;
    std::map<std::string, std::string> before;
};

RunningHost* Traversal::host = nullptr;
CanaryField* Traversal::field = nullptr;
int Traversal::writerId = 0;
std::string Traversal::cookie;

TEST_F(Traversal, PiecesAfterTheShareAddressReachNothingOutside) {
    const auto pieces = hostilePieces(depth(5));
    for (const std::string& piece : pieces) {
        get("/app/dapplinepro/share/p/" + piece);
        get("/app/dapplinepro/share/p/" + piece + "zq-beside.txt");
        get("/app/dapplinepro/share/p/sub/" + piece + "zq-canary.txt");
    }
    // The same once more for a signed-in guest of the private share, shorter.
    for (const std::string& piece : hostilePieces(depth(4))) {
        get("/app/dapplinepro/share/t/" + piece + "zq-beside.txt", {{"Cookie", cookie}});
        get("/app/dapplinepro/share/t/" + piece, {{"Cookie", cookie}});
    }
}

TEST_F(Traversal, PiecesInTheShareAddressOfPageViewsImagesAndZips) {
    for (const std::string& piece : hostilePieces(depth(3))) {
        const std::string base = "/app/dapplinepro/share/p/" + piece;
        get(base + "?vm=gallery");
        get(base + "?vm=music");
        get(base + "zq-beside.txt?thumbsize=1");
        get(base + "zq-beside.txt?viewsize=1&action=download");
    }
    // Each one that names a folder starts a zip job: fewer of them. A client
    // holds two jobs at most, so each job started is fetched, which ends it.
    for (const std::string& piece : hostilePieces(depth(2))) {
        const std::string base = "/app/dapplinepro/share/p/" + piece;
        const RawAnswer started = client.get(base + "?startzip");
        check(started, "GET " + base + "?startzip", base);
        const std::string id = xmlText(started.body, "id");
        if (id.empty())
            continue;
        EXPECT_TRUE(pollUntil([&] {
            return xmlText(client.get(base + "?zipstatus&id=" + id).body, "finished") == "1";
        })) << base;
        get(base + "?downloadaszip&id=" + id);
    }
}

TEST_F(Traversal, PiecesInZipIds) {
    for (const std::string& piece : hostilePieces(depth(4))) {
        get("/app/dapplinepro/share/p/?zipstatus&id=" + piece);
        get("/app/dapplinepro/share/p/?downloadaszip&id=" + piece);
        get("/app/dapplinepro/share/p/sub/?downloadaszip&id=" + piece + "zq-canary");
    }
}

TEST_F(Traversal, PiecesInUploadFoldersAndFileNames) {
    const HeaderList who = {{"Cookie", cookie},
                            {"Content-Type", "multipart/form-data; boundary=zqb"}};
    for (const std::string& piece : hostilePieces(depth(3))) {
        const std::string query = "/app/dapplinepro/upload?appname=dapplinepro&expandzip=0";
        const std::string folder = query + "&sharename=t&dirname=t/" + piece + "zq-up";
        RawAnswer a = client.send("POST", folder, who, multipartBody("zqb", "zq-up.txt", "u\n"));
        check(a, "upload into " + folder, folder);
        const std::string named = query + "&sharename=t&dirname=t/sub";
        a = client.send("POST", named, who, multipartBody("zqb", piece + "zq-up-name.txt", "n\n"));
        check(a, "upload of " + piece + "zq-up-name.txt", piece);
    }
}

TEST_F(Traversal, PiecesInWebDAVDestinations) {
    const HeaderList who = {{"Cookie", cookie}};
    const std::string url = "http://127.0.0.1:" + std::to_string(host->port);
    for (const std::string& piece : hostilePieces(depth(3))) {
        for (const std::string& dest :
             {url + "/app/dapplinepro/share/t/" + piece + "zq-dav",
              "/app/dapplinepro/share/t/" + piece + "zq-dav",
              url + "/app/dapplinepro/share/t/sub/" + piece + "zq-canary.txt"}) {
            HeaderList h = who;
            h.emplace_back("Destination", dest);
            h.emplace_back("Overwrite", "T");
            check(client.send("COPY", "/app/dapplinepro/share/t/hello.txt", h), "COPY to " + dest,
                  dest);
            check(client.send("MOVE", "/app/dapplinepro/share/t/mv.txt", h), "MOVE to " + dest,
                  dest);
            restoreShare();
        }
        HeaderList in = who;
        in.emplace_back("Destination", url + "/app/dapplinepro/share/t/zq-got");
        check(client.send("COPY", "/app/dapplinepro/share/t/" + piece + "zq-beside.txt", in),
              "COPY from " + piece, piece);
        in.emplace_back("Depth", "1");
        check(client.send("PROPFIND", "/app/dapplinepro/share/t/" + piece, in), "PROPFIND " + piece,
              piece);
    }
}

TEST_F(Traversal, PiecesInExplorerParameters) {
    const char* const ops[] = {"createfolder", "renamefile",  "renamefile-name", "deletefile",
                               "copyfile",     "copyfile-to", "renameormove",    "renameormove-to",
                               "fileexists",   "getfilelist"};
    const HeaderList guest = {{"Cookie", cookie}}, anonymous;
    for (const std::string& piece : hostilePieces(depth(3))) {
        for (const char* op : ops) {
            explorer(op, piece, guest);
            explorer(op, piece, anonymous);
            restoreShare();
        }
        for (const std::string& folder : {field->share, field->pub}) {
            const std::string file = percentEncode(folder + "/" + piece + "zq-beside.txt", true);
            get("/app/dapplinepro/downloadfile?filepath=" + file, guest);
            get("/app/dapplinepro/downloadfile?filepath=" + file, anonymous);
        }
    }
}

// A link inside a shared folder that leads out of it is refused everywhere,
// as if it were not there; a link that stays inside the share works.
TEST_F(Traversal, LinksLeadingOutOfTheShareAreRefused) {
    const HeaderList guest = {{"Cookie", cookie}};
    for (const std::string& share : {"p", "t"}) {
        const HeaderList who = share == std::string("t") ? guest : HeaderList();
        const std::string base = "/app/dapplinepro/share/" + share + "/";
        for (const std::string& path :
             {"out-file", "out-file?action=download", "out-dir/", "out-dir/zq-deep.txt",
              "out-dir/?vm=gallery", "out-dir/?vm=music", "out-dir/zq-deep.txt?viewsize=1",
              "out-dir/?startzip", "out-dir"})
            get(base + path, who);
        RawAnswer inside = client.get(base + "in-dir/inner.txt", who);
        EXPECT_EQ(inside.status, 200) << inside.body;
        EXPECT_EQ(inside.body, "inner text\n");
    }
    // A zip of the share leaves the links out.
    RawAnswer started = client.get("/app/dapplinepro/share/p/?startzip");
    const std::string id = xmlText(started.body, "id");
    ASSERT_FALSE(id.empty()) << started.body;
    ASSERT_TRUE(pollUntil([&] {
        return xmlText(client.get("/app/dapplinepro/share/p/?zipstatus&id=" + id).body,
                       "finished") == "1";
    }));
    RawAnswer zip = client.get("/app/dapplinepro/share/p/?downloadaszip&id=" + id);
    ASSERT_EQ(zip.status, 200) << zip.body;
    const std::string content = zipContent(zip.body, host->root + "/scratch");
    if (field->leaks(content))
        found.escape("the share's zip holds the canary");
    for (const std::string& name : zipNames(zip.body, host->root + "/scratch")) {
        if (name.find("out-") != std::string::npos || name.find("zq-deep") != std::string::npos ||
            name.find("zq-canary") != std::string::npos)
            found.escape("the share's zip lists " + name);
    }

    // WebDAV: the links are neither listed nor followed nor copied.
    HeaderList depth1 = guest;
    depth1.emplace_back("Depth", "1");
    RawAnswer listed = client.send("PROPFIND", "/app/dapplinepro/share/t/", depth1);
    EXPECT_EQ(listed.status, 207);
    check(listed, "PROPFIND of the share", "");
    EXPECT_NO_THROW(parseXml(listed.body));
    EXPECT_EQ(listed.body.find("out-dir"), std::string::npos) << listed.body;
    EXPECT_EQ(listed.body.find("out-file"), std::string::npos) << listed.body;
    EXPECT_NE(listed.body.find("in-dir"), std::string::npos) << listed.body;
    for (const std::string& path : {"out-dir/", "out-dir/zq-deep.txt", "out-file"}) {
        check(client.send("PROPFIND", "/app/dapplinepro/share/t/" + path, depth1),
              "PROPFIND " + path, path);
        check(client.send("GET", "/app/dapplinepro/share/t/" + path, guest), "GET " + path, path);
        HeaderList copy = guest;
        copy.emplace_back("Destination", "/app/dapplinepro/share/t/zq-copied");
        check(client.send("COPY", "/app/dapplinepro/share/t/" + path, copy), "COPY " + path, path);
        check(client.send("PUT", "/app/dapplinepro/share/t/" + path + "zq-put", guest, "x"),
              "PUT below " + path, path);
        check(client.send("MKCOL", "/app/dapplinepro/share/t/" + path + "zq-col", guest),
              "MKCOL below " + path, path);
        check(client.send("DELETE", "/app/dapplinepro/share/t/" + path + "zq-deep.txt", guest),
              "DELETE below " + path, path);
    }

    // Uploads into a folder link, and the share's listing pages.
    const HeaderList form = {{"Cookie", cookie},
                             {"Content-Type", "multipart/form-data; boundary=zqb"}};
    for (const std::string& dir : {"t/out-dir", "t/out-dir/zq-new"}) {
        check(client.send("POST",
                          "/app/dapplinepro/upload?appname=dapplinepro&expandzip=0&sharename=t"
                          "&dirname=" +
                              dir,
                          form, multipartBody("zqb", "zq-up.txt", "u\n")),
              "upload into " + dir, dir);
    }
    for (const std::string& view : {"", "?vm=gallery", "?vm=music"}) {
        RawAnswer page = client.get("/app/dapplinepro/share/p/" + view);
        EXPECT_EQ(page.status, 200);
        check(page, "the share page " + view, "");
        EXPECT_EQ(page.body.find("out-dir"), std::string::npos) << view;
        EXPECT_EQ(page.body.find("out-file"), std::string::npos) << view;
    }

    // The explorer: neither listed, followed nor copied.
    for (const HeaderList& who : {guest, HeaderList()}) {
        for (const std::string& body :
             {"path=" + field->share + "&start=0&limit=100&filter=&search=",
              "path=" + field->share + "/out-dir&start=0&limit=100&filter=&search=",
              "path=" + field->pub + "&start=0&limit=100&filter=&search=",
              "path=" + field->pub + "/out-dir&start=0&limit=100&filter=&search="}) {
            RawAnswer a = client.postForm("/app/dapplinepro/getfilelist", body, who);
            check(a, "getfilelist " + body, "");
            // Exact names: other suites leave files such as "out-filezq-put"
            // inside the share, which may well be listed.
            EXPECT_EQ(a.body.find("<name>out-file</name>"), std::string::npos) << a.body;
            EXPECT_EQ(a.body.find("<name>out-dir</name>"), std::string::npos) << a.body;
        }
        const std::string s = who.empty() ? field->pub : field->share;
        const std::pair<const char*, std::string> attempts[] = {
            {"copyfile", "path=" + s + "/out-file&copyto=" + s + "/sub"},
            {"copyfile", "path=" + s + "/out-dir&copyto=" + s + "/sub"},
            {"copyfile", "path=" + s + "/out-dir/zq-deep.txt&copyto=" + s},
            {"copyfile", "path=" + s + "/hello.txt&copyto=" + s + "/out-dir"},
            {"renamefile", "path=" + s + "/out-dir/zq-deep.txt&name=zq-renamed"},
            {"renameormove", "fromname=" + s + "/out-dir/zq-deep.txt&toname=" + s + "/zq-got"},
            {"renameormove", "fromname=" + s + "/mv.txt&toname=" + s + "/out-dir/zq-mv"},
            {"createfolder", "path=" + s + "/out-dir/zq-new"},
            {"deletefile", "path=" + s + "/out-dir/zq-deep.txt"},
            {"fileexists", "file=" + s + "/out-dir/zq-deep.txt"}};
        for (const auto& attempt : attempts) {
            RawAnswer a = client.postForm(std::string("/app/dapplinepro/") + attempt.first,
                                          attempt.second, who);
            check(a, std::string(attempt.first) + " " + attempt.second, attempt.second);
            if (attempt.first == std::string("fileexists") && xmlText(a.body, "success") == "1")
                found.escape("fileexists through a link: " + attempt.second);
        }
        restoreShare();
        check(client.get(
                  "/app/dapplinepro/downloadfile?filepath=" + percentEncode(s + "/out-file", true),
                  who),
              "downloadfile out-file", "out-file");
    }
    for (const std::string& folder : {field->share, field->pub})
        EXPECT_TRUE(Poco::File(folder + "/out-dir").exists()) << "the link itself stays";
}

// Hidden entries do not exist for a visitor who may not write, by any path:
// pages, downloads, pictures, zips, WebDAV and the explorer all answer as
// for a name that is not there. A writing guest keeps them over WebDAV.
TEST_F(Traversal, HiddenEntriesArePrivateExceptToWritersOverWebDAV) {
    const std::string secret = "zq-hidden-secret";
    for (const char* name : {"/.git/config", "/sub/.env", "/.ssh/id_rsa"})
        writeNew(field->pub + name, secret);
    const std::string p = "/app/dapplinepro/share/p/";
    const RawAnswer absent = client.get(p + "zq-none");
    for (const std::string& path :
         {".git/config", "sub/.env", ".git/", ".ssh/id_rsa?action=download",
          ".git/config?thumbsize=1", "sub/.env?viewsize=1", ".git/?startzip", ".ssh/?vm=gallery"}) {
        const RawAnswer a = client.get(p + path);
        EXPECT_EQ(a.status, 404) << path;
        EXPECT_EQ(a.body, absent.body) << path;
    }
    auto hides = [&](const RawAnswer& a, const std::string& what) {
        check(a, what, "");
        EXPECT_LT(a.status, 300) << what;
        for (const char* name : {".git", ".env", ".ssh", secret.c_str()})
            EXPECT_EQ(a.body.find(name), std::string::npos) << what << ": " << name;
    };
    for (const std::string& at : {std::string(), std::string("sub/")}) {
        for (const std::string& view : {"", "?vm=gallery", "?vm=music"})
            hides(client.get(p + at + view), "page " + at + view);
        hides(client.send("PROPFIND", p + at, {{"Depth", "1"}}), "PROPFIND " + at);
    }
    EXPECT_EQ(client.send("PROPFIND", p + "sub/.env", {{"Depth", "0"}}).status, 404);
    const std::string pub = field->pub;
    hides(client.postForm("/app/dapplinepro/getfilelist", "path=" + pub + "&start=0&limit=-1"),
          "getfilelist");
    EXPECT_EQ(client.postForm("/app/dapplinepro/getfilelist", "path=" + pub + "/.git").body,
              "<filelistfail></filelistfail>");
    for (const std::string& op :
         {"downloadfile?filepath=" + percentEncode(pub + "/sub/.env", true),
          "getfsthumbimage?name=" + percentEncode(pub + "/.git/config", true),
          "getfolder.jpg?path=" + percentEncode(pub + "/.ssh", true)}) {
        const RawAnswer a = client.get("/app/dapplinepro/" + op);
        EXPECT_EQ(a.status, 404) << op;
        EXPECT_EQ(a.body.find(secret), std::string::npos) << op;
    }

    // The writing guest of "t" stores, lists and reads back a Finder file;
    // the share's pages still leave it out.
    const HeaderList guest = {{"Cookie", cookie}};
    const std::string t = "/app/dapplinepro/share/t/";
    EXPECT_EQ(client.send("PUT", t + "._zq", guest, "finder").status, 201);
    HeaderList depth1 = guest;
    depth1.emplace_back("Depth", "1");
    EXPECT_NE(client.send("PROPFIND", t, depth1).body.find("._zq"), std::string::npos);
    EXPECT_EQ(client.get(t + "._zq", guest).body, "finder");
    EXPECT_EQ(client.get(t, guest).body.find("._zq"), std::string::npos);
}

// A NUL or another control character in a WebDAV target or Destination is
// refused by the host itself, whatever the plug-in would make of it.
TEST_F(Traversal, ControlCharactersInWebDAVNamesAreBadRequests) {
    const HeaderList guest = {{"Cookie", cookie}};
    const std::string t = "/app/dapplinepro/share/t/";
    for (const std::string& bad : {"%01", "%00", "%1F", "%7F"}) {
        EXPECT_EQ(client.send("PROPFIND", t + "zq" + bad, guest).status, 400) << bad;
        HeaderList copy = guest;
        copy.emplace_back("Destination", "http://127.0.0.1/app/dapplinepro/share/t/zq" + bad);
        EXPECT_EQ(client.send("COPY", t + "hello.txt", copy).status, 400) << bad;
        EXPECT_EQ(client.send("MOVE", t + "mv.txt", copy).status, 400) << bad;
    }
    EXPECT_TRUE(Poco::File(field->share + "/mv.txt").exists());
}

// A share that holds the profile (taken before such shares were refused, or
// the profile moved into it later): WebDAV never lists, reads or copies the
// profile, nor removes, moves or replaces a folder holding it. (No new
// share of such a folder is taken: AdminSharesTest.)
TEST(TraversalProfile, AShareHoldingTheProfileNeverYieldsIt) {
    RunningHost host;
    const int writer = host.addGuest("writer", "wpass12345");
    host.start();
    const std::string home = host.root + "/home";
    DavHost dav(host);
    dav.grant(dav.addShare("home", home, false), writer, true);
    ASSERT_EQ(host.stop(), 0);
    Poco::File(home + "/cfg").createDirectories();
    ASSERT_EQ(::rename(host.profileDir.c_str(), (home + "/cfg/profile").c_str()), 0);
    host.profileDir = home + "/cfg/profile";
    host.start();
    writeFile(home + "/zq.txt", "mine\n");

    RawClient client{host.port};
    const HeaderList who = {{"Authorization", basicAuth("writer", "wpass12345")}};
    const std::string h = "/app/dapplinepro/share/home/";
    auto with = [&](const std::string& name, const std::string& value) {
        HeaderList headers = who;
        headers.emplace_back(name, value);
        return headers;
    };
    const RawAnswer listed = client.send("PROPFIND", h + "cfg/", with("Depth", "1"));
    EXPECT_EQ(listed.status, 207);
    EXPECT_EQ(listed.body.find("profile"), std::string::npos) << listed.body;
    for (const std::string& path : {"cfg/profile/", "cfg/profile/owner.token"}) {
        EXPECT_EQ(client.send("PROPFIND", h + path, with("Depth", "0")).status, 403) << path;
        EXPECT_EQ(client.send("COPY", h + path, with("Destination", h + "zq-got")).status, 403);
        const RawAnswer got = client.get(h + path, who);
        EXPECT_EQ(got.body.find(host.token), std::string::npos) << path;
    }
    EXPECT_EQ(client.send("COPY", h + "zq.txt", with("Destination", h + "cfg/profile/x")).status,
              403);
    EXPECT_EQ(client.send("COPY", h + "zq.txt", with("Destination", h + "cfg")).status, 403);
    EXPECT_EQ(client.send("MOVE", h + "cfg", with("Destination", h + "zq-moved")).status, 403);
    EXPECT_EQ(client.send("DELETE", h + "cfg", who).status, 403);
    EXPECT_EQ(readFile(host.profileDir + "/owner.token").find(host.token), 0u);
    EXPECT_FALSE(Poco::File(home + "/zq-got").exists());
}
