// The host's explorer against a real host: signed-in guests create, rename,
// delete, copy and move files and folders of their shares through the
// plug-in's checks, upload into a shared folder and download a file with a
// range. Each allowed operation must change the disk exactly as asked; each
// refused one (read-only share, anonymous visitor, outside the share, a
// rename name with "/" or "..", a ".." component, the profile folder)
// must change nothing.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "DavSupport.h"

using namespace E2E;

namespace {

typedef std::map<std::string, std::string> Headers;

// Every byte but unreserved ones and "/" as %XX, for queries and forms.
std::string enc(const std::string& text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || std::strchr("-._~/", c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

bool there(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void link(const std::string& target, const std::string& path) {
    ASSERT_EQ(0, ::symlink(target.c_str(), path.c_str())) << path;
}

std::string pattern(std::size_t n) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>('a' + (i * 7) % 26);
    return out;
}

}  // namespace

class ExplorerService : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        // The profile lies beside the host's folder until "whole" is shared,
        // since no share of a folder holding the profile is taken.
        const std::string profile = host->profileDir;
        host->profileDir = host->root + "-profile";
        host->writeProperties("timeout.seconds=30\n");
        const int writer = host->addGuest("writer", "wpass12345");
        const int reader = host->addGuest("reader", "rpass12345");
        const int rooter = host->addGuest("rooter", "xpass12345");
        host->start();
        DavHost dav(*host);
        box = host->root + "/box";
        ro = host->root + "/ro";
        open = host->root + "/open";
        outside = host->root + "/outside";
        const int boxId = dav.addShare("box", box, false);
        dav.grant(boxId, writer, true);
        dav.grant(boxId, reader, false);
        dav.grant(dav.addShare("ro", ro, false), writer, false);
        lim = host->root + "/lim";
        dav.grant(dav.addShare("lim", lim, false, 1024), writer, true);
        dav.addShare("open", open, true);
        // A share around the profile folder, which the host keeps out of reach.
        dav.grant(dav.addShare("whole", host->root, false), rooter, true);
        if (host->stop() != 0 || ::rename(host->profileDir.c_str(), profile.c_str()) != 0)
            throw std::runtime_error("cannot move the profile into the shared folder");
        host->profileDir = profile;
        host->start();
        writeNew(outside + "/keep.txt", "outside\n");
        writeNew(ro + "/file.txt", "read only\n");
        writeNew(open + "/pub.txt", "public\n");
        writerSession = signIn("writer", "wpass12345");
        readerSession = signIn("reader", "rpass12345");
        rooterSession = signIn("rooter", "xpass12345");
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }

    static Headers signIn(const std::string& name, const std::string& password) {
        Answer in =
            host->client().post("/ui/guest/login", "name=" + name + "&password=" + password);
        for (const auto& c : in.cookies) {
            const std::string id = cookieValue(c, "orvane_guest");
            if (!id.empty())
                return {{"Cookie", "orvane_guest=" + id}};
        }
        throw std::runtime_error("sign-in failed for " + name);
    }

    static Answer op(const std::string& name, const std::string& body, const Headers& session) {
        return host->client().post("/app/dapplinepro/" + name, body, session);
    }

    // The operation answered 200 with the result XML of that operation.
    static bool succeeded(const Answer& a, const std::string& name) {
        return a.status == 200 && xmlText(a.body, "operation") == name &&
               xmlText(a.body, "success") == "1";
    }
    // Refused before anything was tried: by the plug-in's mark (403) or by
    // the host's own check of the input (400).
    static bool refused(const Answer& a) {
        return (a.status == 403 || a.status == 400) && xmlText(a.body, "success") == "0";
    }
    static bool declined(const Answer& a, const std::string& name) {
        return a.status == 200 && xmlText(a.body, "operation") == name &&
               xmlText(a.body, "success") == "0";
    }

    Command curlUpload(const std::string& folder, const std::vector<std::string>& files,
                       const Headers& session) {
        std::string command =
            "curl -s -o " + shellQuote(host->root + "/answer.xml") + " -w '%{http_code}'";
        if (!session.empty())
            command += " -b " + shellQuote(session.at("Cookie"));
        for (std::size_t i = 0; i < files.size(); ++i)
            command += " -F " + shellQuote("file" + std::to_string(i) + "=@" + files[i]);
        return runShell(command + " " +
                        shellQuote(DavHost(*host).url("/app/dapplinepro/START_GUEST_UPLOAD?path=" +
                                                      enc(folder))));
    }

    static RunningHost* host;
    static std::string box, ro, open, outside, lim;
    static Headers writerSession, readerSession, rooterSession;
};

RunningHost* ExplorerService::host = nullptr;
std::string ExplorerService::box, ExplorerService::ro, ExplorerService::open,
    ExplorerService::outside, ExplorerService::lim;
Headers ExplorerService::writerSession, ExplorerService::readerSession,
    ExplorerService::rooterSession;

TEST_F(ExplorerService, CreateFolderMakesTheNamedFolderOnly) {
    const std::string made = box + "/made";
    Answer a = op("createfolder", "path=" + enc(made), writerSession);
    EXPECT_TRUE(succeeded(a, "createfolder")) << a.status << a.body;
    EXPECT_EQ("text/xml; charset=utf-8", a.header("content-type"));
    EXPECT_TRUE(isFolder(made));
    EXPECT_TRUE(filesBelow(made).empty());

    Answer again = op("createfolder", "path=" + enc(made), writerSession);
    EXPECT_TRUE(declined(again, "createfolder")) << again.body;
    Answer deep = op("createfolder", "path=" + enc(box + "/none/deeper"), writerSession);
    EXPECT_TRUE(declined(deep, "createfolder")) << deep.body;
    EXPECT_FALSE(there(box + "/none"));
}

TEST_F(ExplorerService, RenameStaysInItsFolderWithAPlainName) {
    const std::string dir = box + "/ren";
    writeNew(dir + "/a.txt", "alpha");
    writeNew(dir + "/c.txt", "gamma");
    Answer a =
        op("renamefile", "path=" + enc(dir + "/a.txt") + "&name=" + enc("b é.txt"), writerSession);
    EXPECT_TRUE(succeeded(a, "renamefile")) << a.status << a.body;
    EXPECT_FALSE(there(dir + "/a.txt"));
    EXPECT_EQ("alpha", readFile(dir + "/b é.txt"));

    const std::vector<std::string> before = filesBelow(box);
    for (const std::string name : {"../escaped.txt", "x/y.txt", "..", ".", ""}) {
        Answer bad =
            op("renamefile", "path=" + enc(dir + "/b é.txt") + "&name=" + enc(name), writerSession);
        EXPECT_TRUE(refused(bad)) << name << ": " << bad.status << bad.body;
    }
    Answer noName = op("renamefile", "path=" + enc(dir + "/b é.txt"), writerSession);
    EXPECT_TRUE(refused(noName)) << noName.status << noName.body;
    Answer taken = op("renamefile", "path=" + enc(dir + "/b é.txt") + "&name=c.txt", writerSession);
    EXPECT_TRUE(declined(taken, "renamefile")) << taken.body;
    EXPECT_EQ(before, filesBelow(box));
    EXPECT_EQ("gamma", readFile(dir + "/c.txt"));
    EXPECT_FALSE(there(box + "/escaped.txt"));
}

TEST_F(ExplorerService, DeleteRemovesAWholeFolderButNeverFollowsLinks) {
    const std::string dir = box + "/del";
    writeNew(dir + "/inner/f.txt", "f");
    writeNew(dir + "/.hidden", "h");
    link(outside, dir + "/to-outside");
    link(outside + "/keep.txt", dir + "/inner/to-keep");
    Answer a = op("deletefile", "path=" + enc(dir), writerSession);
    EXPECT_TRUE(succeeded(a, "deletefile")) << a.status << a.body;
    EXPECT_FALSE(there(dir));
    EXPECT_EQ("outside\n", readFile(outside + "/keep.txt"));

    // A link named itself goes, not the folder it points to.
    writeNew(box + "/target/t.txt", "t");
    link(box + "/target", box + "/lnk");
    Answer l = op("deletefile", "path=" + enc(box + "/lnk"), writerSession);
    EXPECT_TRUE(succeeded(l, "deletefile")) << l.body;
    EXPECT_FALSE(there(box + "/lnk"));
    EXPECT_EQ("t", readFile(box + "/target/t.txt"));
    // One that leads out of the share is not the guest's to touch at all.
    link(outside, box + "/out-lnk");
    op("deletefile", "path=" + enc(box + "/out-lnk/keep.txt"), writerSession);
    op("deletefile", "path=" + enc(box + "/out-lnk"), writerSession);
    EXPECT_EQ("outside\n", readFile(outside + "/keep.txt"));

    Answer gone = op("deletefile", "path=" + enc(dir), writerSession);
    EXPECT_TRUE(declined(gone, "deletefile")) << gone.body;
}

TEST_F(ExplorerService, CopyNumbersTakenNamesAndLeavesLinksOut) {
    const std::string dir = box + "/cp";
    writeNew(dir + "/src/one.txt", "one");
    writeNew(dir + "/src/sub/two.txt", "two");
    link(outside, dir + "/src/to-outside");
    Poco::File(dir + "/dest").createDirectories();

    Answer a = op("copyfile", "path=" + enc(dir + "/src") + "&copyto=" + enc(dir + "/dest"),
                  writerSession);
    EXPECT_TRUE(succeeded(a, "copyfile")) << a.status << a.body;
    EXPECT_EQ("one", readFile(dir + "/dest/src/one.txt"));
    EXPECT_EQ("two", readFile(dir + "/dest/src/sub/two.txt"));
    EXPECT_FALSE(there(dir + "/dest/src/to-outside"));
    EXPECT_TRUE(there(dir + "/src/to-outside"));

    Answer b = op("copyfile", "path=" + enc(dir + "/src") + "&copyto=" + enc(dir + "/dest"),
                  writerSession);
    EXPECT_TRUE(succeeded(b, "copyfile")) << b.body;
    EXPECT_EQ("one", readFile(dir + "/dest/src (1)/one.txt"));
    Answer file =
        op("copyfile", "path=" + enc(dir + "/src/one.txt") + "&copyto=" + enc(dir + "/src"),
           writerSession);
    EXPECT_TRUE(succeeded(file, "copyfile")) << file.body;
    EXPECT_EQ("one", readFile(dir + "/src/one (1).txt"));
    EXPECT_EQ("one", readFile(dir + "/src/one.txt"));

    const std::vector<std::string> before = filesBelow(dir);
    Answer into = op("copyfile", "path=" + enc(dir + "/src") + "&copyto=" + enc(dir + "/src/sub"),
                     writerSession);
    EXPECT_TRUE(declined(into, "copyfile")) << into.body;
    EXPECT_EQ(before, filesBelow(dir));
}

TEST_F(ExplorerService, MoveRefusesATakenTargetAndItsOwnInside) {
    const std::string dir = box + "/mv";
    writeNew(dir + "/a.txt", "a");
    writeNew(dir + "/folder/in.txt", "in");
    writeNew(dir + "/t1.txt", "t1");
    writeNew(dir + "/t2.txt", "t2");
    Answer a = op("renameormove",
                  "fromname=" + enc(dir + "/a.txt") + "&toname=" + enc(dir + "/folder/a2.txt"),
                  writerSession);
    EXPECT_TRUE(succeeded(a, "renameormove")) << a.status << a.body;
    EXPECT_FALSE(there(dir + "/a.txt"));
    EXPECT_EQ("a", readFile(dir + "/folder/a2.txt"));

    const std::vector<std::string> before = filesBelow(dir);
    Answer taken =
        op("renameormove", "fromname=" + enc(dir + "/t1.txt") + "&toname=" + enc(dir + "/t2.txt"),
           writerSession);
    EXPECT_TRUE(declined(taken, "renameormove")) << taken.body;
    Answer inside =
        op("renameormove",
           "fromname=" + enc(dir + "/folder") + "&toname=" + enc(dir + "/folder/deeper"),
           writerSession);
    EXPECT_TRUE(declined(inside, "renameormove")) << inside.body;
    EXPECT_EQ(before, filesBelow(dir));
    EXPECT_EQ("t2", readFile(dir + "/t2.txt"));
}

TEST_F(ExplorerService, FileExistsNeedsReadOnly) {
    writeNew(box + "/exists & <so>.txt", "x");
    // The value is percent-encoded inside the form.
    Answer yes = op("fileexists", "file=" + enc(enc(box + "/exists & <so>.txt")), readerSession);
    EXPECT_TRUE(succeeded(yes, "fileexists")) << yes.status << yes.body;
    Answer no = op("fileexists", "file=" + enc(enc(box + "/missing.txt")), readerSession);
    EXPECT_TRUE(declined(no, "fileexists")) << no.body;
    writeNew(box + "/.git/config", "secret");
    for (const char* hidden : {"/.git", "/.git/config"}) {
        Answer probe = op("fileexists", "file=" + enc(enc(box + hidden)), readerSession);
        EXPECT_TRUE(refused(probe)) << hidden << " " << probe.body;
    }
}

TEST_F(ExplorerService, RefusedOperationsChangeNothing) {
    writeNew(box + "/keep/k.txt", "keep");
    const std::vector<std::string> boxBefore = filesBelow(box);
    const std::vector<std::string> outsideBefore = filesBelow(outside);
    const Headers anonymous;
    struct Case {
        const char* what;
        std::string operation, body;
        const Headers* session;
    } cases[] = {
        {"read-only create", "createfolder", "path=" + enc(box + "/r1"), &readerSession},
        {"read-only delete", "deletefile", "path=" + enc(box + "/keep"), &readerSession},
        {"read-only rename", "renamefile", "path=" + enc(box + "/keep") + "&name=k2",
         &readerSession},
        {"anonymous delete", "deletefile", "path=" + enc(box + "/keep"), &anonymous},
        {"anonymous on a public share", "createfolder", "path=" + enc(open + "/new"), &anonymous},
        {"outside delete", "deletefile", "path=" + enc(outside + "/keep.txt"), &writerSession},
        {"outside create", "createfolder", "path=" + enc(outside + "/new"), &writerSession},
        {"move out", "renameormove",
         "fromname=" + enc(box + "/keep") + "&toname=" + enc(outside + "/keep"), &writerSession},
        {"copy from read-only", "copyfile", "path=" + enc(ro + "/file.txt") + "&copyto=" + enc(box),
         &writerSession},
        {"copy out", "copyfile", "path=" + enc(box + "/keep") + "&copyto=" + enc(outside),
         &writerSession},
        {"dot-dot inside the share", "deletefile", "path=" + enc(box + "/keep/../keep"),
         &writerSession},
        {"dot inside the share", "deletefile", "path=" + enc(box + "/./keep"), &writerSession},
        {"relative", "deletefile", "path=" + enc(box.substr(1) + "/keep"), &writerSession},
    };
    for (const Case& c : cases) {
        Answer a = op(c.operation, c.body, *c.session);
        EXPECT_EQ(403, a.status) << c.what << ": " << a.body;
        EXPECT_NE("1", xmlText(a.body, "success")) << c.what;
    }
    EXPECT_EQ(boxBefore, filesBelow(box));
    EXPECT_TRUE(isFolder(box + "/keep"));
    EXPECT_FALSE(there(box + "/r1"));
    EXPECT_FALSE(there(box + "/file.txt"));
    EXPECT_FALSE(there(open + "/new"));
    EXPECT_EQ(outsideBefore, filesBelow(outside));
    EXPECT_FALSE(there(outside + "/new"));
}

TEST_F(ExplorerService, ProfileFolderIsOutOfReachEvenInsideAShare) {
    const std::string profile = host->profileDir;
    const std::string token = readFile(profile + "/owner.token");
    Answer made = op("createfolder", "path=" + enc(host->root + "/rootmade"), rooterSession);
    EXPECT_TRUE(succeeded(made, "createfolder")) << made.status << made.body;

    Answer del = op("deletefile", "path=" + enc(profile + "/owner.token"), rooterSession);
    EXPECT_EQ(403, del.status) << del.body;
    Answer mk = op("createfolder", "path=" + enc(profile + "/x"), rooterSession);
    EXPECT_EQ(403, mk.status) << mk.body;
    Answer cp =
        op("copyfile", "path=" + enc(profile + "/owner.token") + "&copyto=" + enc(host->root),
           rooterSession);
    EXPECT_EQ(403, cp.status) << cp.body;
    Answer mv = op("renameormove", "fromname=" + enc(box) + "&toname=" + enc(profile + "/box"),
                   rooterSession);
    EXPECT_EQ(403, mv.status) << mv.body;
    EXPECT_EQ(token, readFile(profile + "/owner.token"));
    EXPECT_FALSE(there(profile + "/x"));
    EXPECT_FALSE(there(host->root + "/owner.token"));
    EXPECT_TRUE(isFolder(box));
}

TEST_F(ExplorerService, UploadStoresTheFilesInTheCheckedFolder) {
    const std::string folder = box + "/up";
    Poco::File(folder).createDirectories();
    const std::string src = host->root + "/upsrc";
    writeNew(src + "/one.txt", "first");
    writeNew(src + "/two words.bin", pattern(700 * 1024));

    Command c = curlUpload(folder, {src + "/one.txt", src + "/two words.bin"}, writerSession);
    EXPECT_EQ("200", c.output);
    const std::string answer = readFile(host->root + "/answer.xml");
    EXPECT_EQ("1", xmlText(answer, "success")) << answer;
    EXPECT_EQ("2 file(s) uploaded", xmlText(answer, "message"));
    EXPECT_EQ("first", readFile(folder + "/one.txt"));
    EXPECT_EQ(pattern(700 * 1024), readFile(folder + "/two words.bin"));

    Command again = curlUpload(folder, {src + "/one.txt"}, writerSession);
    EXPECT_EQ("200", again.output);
    EXPECT_EQ("first", readFile(folder + "/one (1).txt"));
    EXPECT_EQ(3u, filesBelow(folder).size());

    EXPECT_EQ("403", curlUpload(folder, {src + "/one.txt"}, readerSession).output);
    EXPECT_EQ("403", curlUpload(folder, {src + "/one.txt"}, {}).output);
    EXPECT_EQ("403", curlUpload(outside, {src + "/one.txt"}, writerSession).output);
    EXPECT_EQ("404", curlUpload(box + "/nope", {src + "/one.txt"}, writerSession).output);
    Answer plain = host->client().post("/app/dapplinepro/START_GUEST_UPLOAD?path=" + enc(folder),
                                       "x=1", writerSession);
    EXPECT_EQ(400, plain.status);
    EXPECT_EQ(3u, filesBelow(folder).size());
    EXPECT_FALSE(there(box + "/nope"));
    EXPECT_FALSE(there(outside + "/one.txt"));
}

// A share of 1 MiB: copies, moves from another share and uploads that would
// take it past its limit are declined and leave nothing; a deletion gives
// the room back. The share's own folder is neither deleted nor renamed.
TEST_F(ExplorerService, LimitedShareTakesOnlyWhatFits) {
    writeNew(box + "/limsrc/big.bin", pattern(700 * 1024));
    const std::string copy = "path=" + enc(box + "/limsrc/big.bin") + "&copyto=" + enc(lim);
    EXPECT_TRUE(succeeded(op("copyfile", copy, writerSession), "copyfile"));
    Answer again = op("copyfile", copy, writerSession);
    EXPECT_TRUE(declined(again, "copyfile")) << again.body;
    EXPECT_EQ("Size Limit Exceeded", xmlText(again.body, "message"));
    const std::string move = "fromname=" + enc(box + "/limsrc") + "&toname=" + enc(lim + "/moved");
    EXPECT_TRUE(declined(op("renameormove", move, writerSession), "renameormove"));
    EXPECT_EQ("403", curlUpload(lim, {box + "/limsrc/big.bin"}, writerSession).output);
    EXPECT_EQ("Unable to upload file(s). Size Limit Exceeded",
              xmlText(readFile(host->root + "/answer.xml"), "message"));
    EXPECT_EQ(std::vector<std::string>{"big.bin"}, filesBelow(lim));

    EXPECT_TRUE(
        succeeded(op("deletefile", "path=" + enc(lim + "/big.bin"), writerSession), "deletefile"));
    EXPECT_TRUE(succeeded(op("renameormove", move, writerSession), "renameormove"));
    EXPECT_EQ(pattern(700 * 1024), readFile(lim + "/moved/big.bin"));
    EXPECT_FALSE(there(box + "/limsrc"));

    // Not even through "whole", the share that holds it.
    for (const Headers& who : {writerSession, rooterSession}) {
        EXPECT_TRUE(refused(op("deletefile", "path=" + enc(lim), who)));
        EXPECT_TRUE(refused(op("renamefile", "path=" + enc(lim) + "&name=gone", who)));
    }
    EXPECT_TRUE(isFolder(lim));
}

TEST_F(ExplorerService, DownloadFileSendsAnAttachmentWithRanges) {
    const std::string data = pattern(1000);
    writeNew(box + "/dl/da\"ta.bin", data);
    const std::string target =
        "/app/dapplinepro/downloadfile?filepath=" + enc(box + "/dl/da\"ta.bin");
    HttpClient http = host->client();
    Answer whole = http.get(target, readerSession);
    EXPECT_EQ(200, whole.status);
    EXPECT_EQ(data, whole.body);
    const std::string disposition = whole.header("content-disposition");
    EXPECT_EQ(0u, disposition.find("attachment; filename=\"da_ta.bin\"")) << disposition;

    Answer part =
        http.get(target, {{"Cookie", readerSession.at("Cookie")}, {"Range", "bytes=10-19"}});
    EXPECT_EQ(206, part.status);
    EXPECT_EQ(data.substr(10, 10), part.body);
    EXPECT_EQ("bytes 10-19/1000", part.header("content-range"));
    Answer head = http.head(target, readerSession);
    EXPECT_EQ(200, head.status);
    EXPECT_EQ("1000", head.header("content-length"));

    EXPECT_EQ(403, http.get(target).status);
    EXPECT_EQ(403, http.get("/app/dapplinepro/downloadfile?filepath=" + enc(outside + "/keep.txt"),
                            writerSession)
                       .status);
    Answer pub = http.get("/app/dapplinepro/downloadfile?filepath=" + enc(open + "/pub.txt"));
    EXPECT_EQ(200, pub.status);
    EXPECT_EQ("public\n", pub.body);
}
