// The host's upload path against a real host: curl's multipart uploads of
// several files, names with spaces and non-ASCII letters, name collisions,
// the history lines, refusals without reading the files, a client that goes
// away mid-file, and a full disk.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <signal.h>
#include <sys/resource.h>

#include "DavSupport.h"

using namespace E2E;

namespace {

std::string pattern(std::size_t n, unsigned seed) {
    std::string out(n, '\0');
    for (auto& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return out;
}

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

bool hasTempFiles(const std::string& folder) {
    for (const auto& f : filesBelow(folder)) {
        if (f.find(".orvane-part-") != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

class UploadPath : public ::testing::Test {
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
        const int open = dav.addShare("open", host->root + "/open", true);
        dav.grant(open, writer, true);
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }

    // curl -F with each file as one part; returns the HTTP status.
    Command curlUpload(const std::string& query, const std::vector<std::string>& files,
                       const std::string& user = "writer:wpass") {
        std::string command =
            "curl -s -o " + shellQuote(host->root + "/answer.html") + " -w '%{http_code}'";
        if (!user.empty())
            command += " -u " + shellQuote(user);
        for (std::size_t i = 0; i < files.size(); ++i)
            command += " -F " + shellQuote("file" + std::to_string(i) + "=@" + files[i]);
        return runShell(command + " " +
                        shellQuote(DavHost(*host).url("/app/dapplinepro/upload?" + query)));
    }

    static RunningHost* host;
    static int writer, reader;
    static std::string box;
};

RunningHost* UploadPath::host = nullptr;
int UploadPath::writer = -1;
int UploadPath::reader = -1;
std::string UploadPath::box;

TEST_F(UploadPath, SeveralFilesIntoASubFolderArriveWholeAndAreRecorded) {
    const std::string src = host->root + "/src";
    Poco::File(src).createDirectories();
    const std::string big = pattern(3 * 1024 * 1024 + 17, 7);  // crosses many buffers
    writeNew(src + "/big.bin", big);
    writeNew(src + "/with space.txt", "spaced\n");
    writeNew(src + "/\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt", "unicode\n");
    writeNew(src + "/empty.txt", "");
    const std::string before = DavHost(*host).uploads();

    Command c = curlUpload("appname=dapplinepro&sharename=box&dirname=box/in%20here",
                           {src + "/big.bin", src + "/with space.txt",
                            src + "/\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt", src + "/empty.txt"});
    EXPECT_EQ("200", c.output);
    const std::string answer = readFile(host->root + "/answer.html");
    EXPECT_NE(std::string::npos, answer.find("<!-- MESSAGE: FILE UPLOAD: OK -->")) << answer;
    EXPECT_NE(std::string::npos, answer.find("share/box/in%20here'"));

    const std::string dir = box + "/in here";
    EXPECT_EQ(big, readFile(dir + "/big.bin"));
    EXPECT_EQ("spaced\n", readFile(dir + "/with space.txt"));
    EXPECT_EQ("unicode\n", readFile(dir + "/\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.txt"));
    EXPECT_TRUE(Poco::File(dir + "/empty.txt").exists());
    EXPECT_EQ(4u, filesBelow(dir).size());

    const int expected = countOf(before, "<history>") + 4;
    std::string history;
    EXPECT_TRUE(pollUntil([&] {
        history = DavHost(*host).uploads();
        return countOf(history, "<history>") >= expected;
    })) << history;
    EXPECT_NE(std::string::npos, history.find("<sharelocation>" + dir + "/big.bin<"));
    EXPECT_NE(std::string::npos, history.find("<username>writer</username>"));
    EXPECT_NE(std::string::npos, history.find("<filesize>3 MB</filesize>"));
}

TEST_F(UploadPath, ExistingNamesAreKeptAndNewOnesNumbered) {
    const std::string src = host->root + "/same";
    Poco::File(src + "/a").createDirectories();
    Poco::File(src + "/b").createDirectories();
    writeNew(src + "/a/same.txt", "first");
    writeNew(src + "/b/same.txt", "second");
    writeNew(box + "/same.txt", "original");
    Command c = curlUpload("sharename=box&dirname=box", {src + "/a/same.txt", src + "/b/same.txt"});
    EXPECT_EQ("200", c.output);
    EXPECT_EQ("original", readFile(box + "/same.txt"));
    EXPECT_EQ("first", readFile(box + "/same (1).txt"));
    EXPECT_EQ("second", readFile(box + "/same (2).txt"));
}

TEST_F(UploadPath, RefusalsReadNoFile) {
    const std::string file = host->root + "/refused.txt";
    writeNew(file, "not wanted");
    Command none = curlUpload("sharename=box&dirname=box", {file}, "");
    EXPECT_EQ("401", none.output);
    Command readOnly = curlUpload("sharename=box&dirname=box", {file}, "reader:rpass");
    EXPECT_EQ("403", readOnly.output);
    EXPECT_NE(std::string::npos,
              readFile(host->root + "/answer.html").find("No upload access for the user"));
    Command open = curlUpload("sharename=open&dirname=open", {file});
    EXPECT_EQ("403", open.output);
    Command climb = curlUpload("sharename=box&dirname=box/../open", {file});
    EXPECT_EQ("403", climb.output);
    EXPECT_FALSE(Poco::File(box + "/refused.txt").exists());
    EXPECT_FALSE(Poco::File(host->root + "/open/refused.txt").exists());
}

TEST_F(UploadPath, ClientGoingAwayMidFileLeavesNothing) {
    const std::string folder = box + "/broken";
    Poco::File(folder).createDirectories();
    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", host->port));
    const std::string part =
        "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; "
        "filename=\"half.bin\"\r\n\r\n" +
        std::string(1000000, 'h');
    const std::string head =
        "POST /app/dapplinepro/upload?sharename=box&dirname=box/broken HTTP/1.1\r\n"
        "Host: 127.0.0.1\r\nAuthorization: " +
        basicAuth("writer", "wpass") +
        "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
        "Content-Length: 10000000\r\n\r\n";
    const std::string bytes = head + part;
    socket.sendBytes(bytes.data(), static_cast<int>(bytes.size()));
    // The host has begun storing once its temporary file is there.
    EXPECT_TRUE(pollUntil([&] { return hasTempFiles(folder); }));
    socket.close();
    EXPECT_TRUE(pollUntil([&] { return filesBelow(folder).empty(); }))
        << "left behind: " << (filesBelow(folder).empty() ? "" : filesBelow(folder)[0]);
    // The host still serves.
    EXPECT_EQ(200, host->client().get("/").status);
}

// A host whose file size limit stands in for a full disk.
TEST(UploadFullDisk, WriteFailureIs507AndKeepsNothing) {
    RunningHost host;
    const int writer = host.addGuest("writer", "wpass");
    struct rlimit old;
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 2 * 1024 * 1024;
    // Ignored signals stay ignored in the child: writes past the limit fail
    // with EFBIG instead of killing the host.
    void (*previous)(int) = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    try {
        host.start();
    } catch (...) {
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, previous);
        throw;
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previous);

    DavHost dav(host);
    const std::string box = host.root + "/box";
    dav.grant(dav.addShare("box", box, false), writer, true);
    const std::string file = host.root + "/huge.bin";
    writeNew(file, pattern(3 * 1024 * 1024, 3));
    Command c = runShell("curl -s -o /dev/null -w '%{http_code}' -u writer:wpass -F " +
                         shellQuote("f=@" + file) + " " +
                         shellQuote(dav.url("/app/dapplinepro/upload?sharename=box&dirname=box")));
    EXPECT_EQ("507", c.output);
    EXPECT_TRUE(filesBelow(box).empty());
    Command put =
        runShell("curl -s -o /dev/null -w '%{http_code}' -u writer:wpass -T " + shellQuote(file) +
                 " " + shellQuote(dav.url("/app/dapplinepro/share/box/huge.bin")));
    EXPECT_EQ("507", put.output);
    EXPECT_TRUE(filesBelow(box).empty());
    EXPECT_TRUE(dav.uploads().find("<history>") == std::string::npos);
}
