// The host's upload path against a real host: curl's multipart uploads of
// several files, names with spaces and non-ASCII letters, name collisions,
// the history lines, refusals without reading the files, a client that goes
// away mid-file, a share's size limit against uploads that would cross it,
// and a full disk.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <signal.h>
#include <sys/resource.h>

#include "DavSupport.h"

using namespace E2E;

class UploadPath : public ::testing::Test {
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
        const int open = dav.addShare("open", host->root + "/open", true);
        dav.grant(open, writer, true);
        // 1 MiB, already holding a hidden file the owner put there.
        mib = host->root + "/mib";
        writeNew(mib + "/.big", std::string(600 * 1024, 'h'));
        dav.grant(dav.addShare("mib", mib, false, 1024), writer, true);
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }

    // curl -F with each file as one part; returns the HTTP status.
    Command curlUpload(const std::string& query, const std::vector<std::string>& files,
                       const std::string& user = "writer:wpass12345") {
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
    static std::string box, mib;
};

RunningHost* UploadPath::host = nullptr;
int UploadPath::writer = -1;
int UploadPath::reader = -1;
std::string UploadPath::box, UploadPath::mib;

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
    Command readOnly = curlUpload("sharename=box&dirname=box", {file}, "reader:rpass12345");
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

// Whatever way the bytes come, the share never holds more than its limit
// and nothing of a refused file stays behind.
TEST_F(UploadPath, SizeLimitHoldsWhileBytesArrive) {
    const long long limit = 1024 * 1024;
    const std::string src = host->root + "/limit";
    writeNew(src + "/five.bin", pattern(5 * 1024 * 1024, 5));
    writeNew(src + "/half.bin", pattern(600 * 1024, 6));
    const std::string query = "sharename=mib&dirname=mib";
    // Declared: refused with the size-limit page before the body is stored.
    EXPECT_EQ("403", curlUpload(query, {src + "/five.bin"}).output);
    EXPECT_NE(std::string::npos, readFile(host->root + "/answer.html")
                                     .find("Unable to upload file(s). Size Limit Exceeded"));
    // The hidden file counts: 600 KiB more do not fit beside it.
    EXPECT_EQ("403", curlUpload(query, {src + "/half.bin"}).output);
    // Chunked: stopped once it reaches the limit.
    Command chunked = runShell(
        "curl -s -o /dev/null -w '%{http_code}' -u writer:wpass12345 -H 'Transfer-Encoding: "
        "chunked' "
        "-F " +
        shellQuote("f=@" + src + "/five.bin") + " " +
        shellQuote(DavHost(*host).url("/app/dapplinepro/upload?" + query)));
    EXPECT_EQ("403", chunked.output);
    EXPECT_EQ(std::vector<std::string>{".big"}, filesBelow(mib));

    // Eight at once into the 424 KiB left: some land, the rest are refused.
    for (int i = 0; i < 8; ++i)
        writeNew(src + "/p" + std::to_string(i) + ".bin", pattern(100 * 1024, i));
    Command eight = runShell(
        "for i in 0 1 2 3 4 5 6 7; do curl -s -o /dev/null -w '%{http_code}\\n' -u "
        "writer:wpass12345 -F f=@" +
        shellQuote(src) + "/p$i.bin " +
        shellQuote(DavHost(*host).url("/app/dapplinepro/upload?" + query)) + " & done; wait");
    const int landed = countOf(eight.output, "200"), refused = countOf(eight.output, "403");
    EXPECT_EQ(8, landed + refused) << eight.output;
    EXPECT_GE(landed, 1) << eight.output;
    EXPECT_GE(refused, 1) << eight.output;
    EXPECT_EQ(static_cast<std::size_t>(landed + 1), filesBelow(mib).size());
    EXPECT_LE(bytesBelow(mib), limit);
    EXPECT_FALSE(hasTempFiles(mib));
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
        basicAuth("writer", "wpass12345") +
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
    const int writer = host.addGuest("writer", "wpass12345");
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
    Command c = runShell("curl -s -o /dev/null -w '%{http_code}' -u writer:wpass12345 -F " +
                         shellQuote("f=@" + file) + " " +
                         shellQuote(dav.url("/app/dapplinepro/upload?sharename=box&dirname=box")));
    EXPECT_EQ("507", c.output);
    EXPECT_TRUE(filesBelow(box).empty());
    Command put = runShell("curl -s -o /dev/null -w '%{http_code}' -u writer:wpass12345 -T " +
                           shellQuote(file) + " " +
                           shellQuote(dav.url("/app/dapplinepro/share/box/huge.bin")));
    EXPECT_EQ("507", put.output);
    EXPECT_TRUE(filesBelow(box).empty());
    EXPECT_TRUE(dav.uploads().find("<history>") == std::string::npos);
}

// A host whose free-disk floor lies above what the disk has: uploads, PUT
// and COPY are refused with 507 and leave nothing.
TEST(UploadDiskFloor, WritesThatWouldCrossTheFloorAre507) {
    RunningHost host;
    host.writeProperties("min.free.mb=999999999\n");
    const int writer = host.addGuest("writer", "wpass12345");
    host.start();
    DavHost dav(host);
    const std::string box = host.root + "/box";
    writeNew(box + "/there.txt", "there");
    dav.grant(dav.addShare("box", box, false), writer, true);
    const std::string file = host.root + "/small.bin";
    writeNew(file, pattern(1000, 4));
    const std::string curl = "curl -s -o /dev/null -w '%{http_code}' -u writer:wpass12345 ";
    EXPECT_EQ("507",
              runShell(curl + "-F " + shellQuote("f=@" + file) + " " +
                       shellQuote(dav.url("/app/dapplinepro/upload?sharename=box&dirname=box")))
                  .output);
    EXPECT_EQ("507", runShell(curl + "-T " + shellQuote(file) + " " +
                              shellQuote(dav.url("/app/dapplinepro/share/box/put.bin")))
                         .output);
    EXPECT_EQ("507",
              runShell(curl + "-X COPY -H " +
                       shellQuote("Destination: " + dav.url("/app/dapplinepro/share/box/c")) + " " +
                       shellQuote(dav.url("/app/dapplinepro/share/box/there.txt")))
                  .output);
    EXPECT_EQ(std::vector<std::string>{"there.txt"}, filesBelow(box));
}
