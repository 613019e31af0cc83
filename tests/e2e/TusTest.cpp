// Resumable uploads (tus 1.0.0) against a real host: creation on the share
// page's upload address with the plug-in's refusals, an upload broken off
// and resumed, wrong offsets and types, another visitor kept out, folder
// paths, the share's size limit held from creation to the end, a host
// killed mid-upload and started again, expiry, and tus-js-client from npm
// driven by node.
#include <gtest/gtest.h>

#include <Poco/Base64Encoder.h>
#include <Poco/File.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Path.h>
#include <signal.h>

#include <sstream>

#include "DavSupport.h"

using namespace E2E;

namespace {

std::string base64(const std::string& text) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << text;
    encoder.close();
    return out.str();
}

typedef std::map<std::string, std::string> Headers;

Headers as(const std::string& user, const std::string& password) {
    Headers h{{"Tus-Resumable", "1.0.0"}};
    if (!user.empty())
        h["Authorization"] = basicAuth(user, password);
    return h;
}

// A tus client of one visitor.
struct Visitor {
    RunningHost& host;
    Headers headers;

    Answer create(const std::string& query, std::size_t length, const std::string& name,
                  const std::string& relativePath = "", const std::string& body = "") {
        Headers h = headers;
        h["Upload-Length"] = std::to_string(length);
        h["Upload-Metadata"] =
            "filename " + base64(name) +
            (relativePath.empty() ? "" : ",relativePath " + base64(relativePath));
        if (!body.empty())
            h["Content-Type"] = "application/offset+octet-stream";
        return host.client().send("POST", "/app/dapplinepro/upload?" + query, body, h);
    }
    Answer patch(const std::string& at, std::size_t offset, const std::string& bytes,
                 const std::string& type = "application/offset+octet-stream") {
        Headers h = headers;
        h["Upload-Offset"] = std::to_string(offset);
        h["Content-Type"] = type;
        return host.client().send("PATCH", at, bytes, h);
    }
    Answer head(const std::string& at) { return host.client().head(at, headers); }
    Answer remove(const std::string& at) { return host.client().send("DELETE", at, "", headers); }
};

// Sends a PATCH that announces `length` bytes, gives only `bytes` and goes
// away; the host keeps what came.
void brokenPatch(RunningHost& host, const Visitor& v, const std::string& at, std::size_t offset,
                 const std::string& bytes, std::size_t length) {
    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", host.port));
    std::string head = "PATCH " + at + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& h : v.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Upload-Offset: " + std::to_string(offset) +
            "\r\nContent-Type: application/offset+octet-stream\r\nContent-Length: " +
            std::to_string(length) + "\r\n\r\n";
    const std::string all = head + bytes;
    socket.sendBytes(all.data(), static_cast<int>(all.size()));
    socket.close();
    Visitor probe = v;
    EXPECT_TRUE(pollUntil([&] {
        return probe.head(at).header("upload-offset") == std::to_string(offset + bytes.size());
    }));
}

std::vector<std::string> partsIn(const std::string& profile) {
    return filesBelow(profile + "/tus");
}

}  // namespace

class Tus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        writer = host->addGuest("writer", "wpass12345");
        const int other = host->addGuest("other", "opass12345");
        const int reader = host->addGuest("reader", "rpass12345");
        host->start();
        DavHost dav(*host);
        box = host->root + "/box";
        const int id = dav.addShare("box", box, false);
        dav.grant(id, writer, true);
        dav.grant(id, other, true);
        dav.grant(id, reader, false);
        mib = host->root + "/mib";
        dav.grant(dav.addShare("mib", mib, false, 1024), writer, true);
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }
    Visitor visitor(const std::string& user, const std::string& password) {
        return Visitor{*host, as(user, password)};
    }

    static RunningHost* host;
    static int writer;
    static std::string box, mib;
};

RunningHost* Tus::host = nullptr;
int Tus::writer = -1;
std::string Tus::box, Tus::mib;

TEST_F(Tus, CreationBrokenOffResumedAndStoredOnce) {
    Answer options =
        host->client().send("OPTIONS", "/app/dapplinepro/upload?sharename=box", "", {});
    EXPECT_EQ(204, options.status);
    EXPECT_EQ("1.0.0", options.header("tus-version"));
    EXPECT_NE(std::string::npos, options.header("tus-extension").find("termination"));

    const std::string query = "sharename=box&dirname=box";
    EXPECT_EQ(401, visitor("", "").create(query, 10, "a.txt").status);
    Answer readOnly = visitor("reader", "rpass12345").create(query, 10, "a.txt");
    EXPECT_EQ(403, readOnly.status);
    EXPECT_NE(std::string::npos, readOnly.body.find("No upload access for the user"));

    writeNew(box + "/same.bin", "already here");
    const std::string before = DavHost(*host).uploads();
    const std::string content = pattern(3 * 1024 * 1024 + 17, 3);
    Visitor w = visitor("writer", "wpass12345");
    Answer created = w.create(query, content.size(), "same.bin");
    ASSERT_EQ(201, created.status) << created.body;
    const std::string at = created.header("location");
    EXPECT_EQ(0u, at.find("/app/dapplinepro/tus/")) << at;
    EXPECT_FALSE(created.header("upload-expires").empty());

    EXPECT_EQ(415, w.patch(at, 0, "abc", "text/plain").status);
    Answer wrong = w.patch(at, 5, "abc");
    EXPECT_EQ(409, wrong.status);
    EXPECT_EQ("0", wrong.header("upload-offset"));

    brokenPatch(*host, w, at, 0, content.substr(0, 1000000), content.size());
    // Nobody else reaches it, nor ends it.
    for (Visitor stranger :
         {visitor("other", "opass12345"), visitor("writer", "wrong-pass"), visitor("", "")}) {
        EXPECT_EQ(404, stranger.head(at).status);
        EXPECT_EQ(404, stranger.patch(at, 1000000, "x").status);
        EXPECT_EQ(404, stranger.remove(at).status);
    }
    Answer head = w.head(at);
    EXPECT_EQ("1000000", head.header("upload-offset"));
    EXPECT_EQ(std::to_string(content.size()), head.header("upload-length"));

    Answer rest = w.patch(at, 1000000, content.substr(1000000));
    EXPECT_EQ(204, rest.status) << rest.body;
    EXPECT_EQ(std::to_string(content.size()), rest.header("upload-offset"));
    EXPECT_EQ("already here", readFile(box + "/same.bin"));
    EXPECT_TRUE(content == readFile(box + "/same (1).bin"));
    // A client that missed that answer learns it is complete.
    EXPECT_EQ(std::to_string(content.size()), w.head(at).header("upload-offset"));

    const int expected = countOf(before, "<history>") + 1;
    std::string history;
    EXPECT_TRUE(pollUntil([&] {
        history = DavHost(*host).uploads();
        return countOf(history, "<history>") >= expected;
    }));
    EXPECT_EQ(expected, countOf(history, "<history>"));
    EXPECT_EQ(1, countOf(history, "<sharelocation>" + box + "/same (1).bin<"));
}

TEST_F(Tus, FolderPathsAreMadeInsideTheTargetOnly) {
    Visitor w = visitor("writer", "wpass12345");
    const std::string query = "sharename=box&dirname=box/in";
    for (const std::string bad :
         {"../out/f.txt", "a/../../f.txt", ".hidden/f.txt", "/etc/f.txt", "a/b..c/f.txt"})
        EXPECT_EQ(400, w.create(query, 3, "f.txt", bad).status) << bad;
    EXPECT_FALSE(Poco::File(host->root + "/out").exists());

    // With its body at once (creation-with-upload), and a DELETE on another.
    Answer tree = w.create(query, 5, "f.txt", "Trip/Day 1/f.txt", "hello");
    EXPECT_EQ(201, tree.status) << tree.body;
    EXPECT_EQ("5", tree.header("upload-offset"));
    EXPECT_EQ("hello", readFile(box + "/in/Trip/Day 1/f.txt"));

    const std::size_t before = partsIn(host->profileDir).size();
    const std::string dropped = w.create(query, 8, "gone.txt").header("location");
    EXPECT_EQ(204, w.patch(dropped, 0, "half").status);
    EXPECT_EQ(204, w.remove(dropped).status);
    EXPECT_EQ(404, w.head(dropped).status);
    EXPECT_EQ(before, partsIn(host->profileDir).size());
    EXPECT_FALSE(Poco::File(box + "/in/gone.txt").exists());
}

// The declared length is claimed at creation and held until the upload
// ends; DELETE gives it back.
TEST_F(Tus, SizeLimitIs413AndHeldFromCreation) {
    Visitor w = visitor("writer", "wpass12345");
    const std::string query = "sharename=mib&dirname=mib";
    EXPECT_EQ(413, w.create(query, 2 * 1024 * 1024, "big.bin").status);
    Answer first = w.create(query, 700 * 1024, "first.bin");
    ASSERT_EQ(201, first.status);
    Answer options = host->client().send("OPTIONS", "/app/dapplinepro/upload?" + query, "",
                                         {{"Authorization", basicAuth("writer", "wpass12345")}});
    EXPECT_EQ(std::to_string(324 * 1024), options.header("tus-max-size"));
    EXPECT_EQ(413, w.create(query, 700 * 1024, "second.bin").status);
    EXPECT_EQ(204, w.remove(first.header("location")).status);
    EXPECT_EQ(201, w.create(query, 700 * 1024, "second.bin").status);
}

// Killed mid-PATCH: the bytes that reached the part stay, what a crash
// leaves half made goes, and the upload ends as if nothing happened.
TEST(TusRestart, KilledMidUploadResumesAfterTheStart) {
    RunningHost host;
    const int writer = host.addGuest("writer", "wpass12345");
    host.start();
    DavHost dav(host);
    const std::string box = host.root + "/box";
    dav.grant(dav.addShare("box", box, false), writer, true);
    Visitor w{host, as("writer", "wpass12345")};
    const std::string content = pattern(2 * 1024 * 1024, 9);
    Answer created = w.create("sharename=box&dirname=box", content.size(), "video.mp4");
    ASSERT_EQ(201, created.status);
    const std::string at = created.header("location");
    EXPECT_EQ(204, w.patch(at, 0, content.substr(0, 500000)).status);

    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", host.port));
    const std::string head = "PATCH " + at +
                             " HTTP/1.1\r\nHost: x\r\nTus-Resumable: 1.0.0\r\nAuthorization: " +
                             basicAuth("writer", "wpass12345") +
                             "\r\nUpload-Offset: 500000\r\nContent-Type: "
                             "application/offset+octet-stream\r\nContent-Length: 1597152\r\n\r\n";
    socket.sendBytes(head.data(), static_cast<int>(head.size()));
    socket.sendBytes(content.data() + 500000, 300000);
    const std::string part = host.profileDir + "/tus/" + Poco::Path(at).getFileName() + ".part";
    EXPECT_TRUE(pollUntil([&] { return Poco::File(part).getSize() > 500000; }));
    EXPECT_EQ(128 + SIGKILL, host.process.stop(SIGKILL));
    socket.close();
    writeFile(host.profileDir + "/tus/0123456789abcdef0123456789abcdef.part", "orphan");
    writeFile(host.profileDir + "/tus/0123456789abcdef0123456789abcdef.info.new", "half");

    host.start();
    EXPECT_EQ((std::vector<std::string>{Poco::Path(at).getFileName() + ".info",
                                        Poco::Path(part).getFileName()}),
              partsIn(host.profileDir));
    const std::string offset = w.head(at).header("upload-offset");
    ASSERT_FALSE(offset.empty());
    const std::size_t from = std::stoul(offset);
    EXPECT_GT(from, 500000u);
    EXPECT_LE(from, 800000u);
    EXPECT_EQ(204, w.patch(at, from, content.substr(from)).status);
    EXPECT_TRUE(content == readFile(box + "/video.mp4"));
    EXPECT_EQ(std::vector<std::string>{"video.mp4"}, filesBelow(box));
    EXPECT_TRUE(pollUntil([&] { return countOf(dav.uploads(), "<history>") == 1; }));
}

// An unfinished upload goes after its time (here a few seconds), with its
// part and its claim on the share's room.
TEST(TusExpiry, UnfinishedUploadsExpire) {
    RunningHost host;
    host.writeProperties("tus.expiry.hours=0.001\n");
    const int writer = host.addGuest("writer", "wpass12345");
    host.start();
    DavHost dav(host);
    dav.grant(dav.addShare("small", host.root + "/small", false, 100), writer, true);
    Visitor w{host, as("writer", "wpass12345")};
    const std::string query = "sharename=small&dirname=small";
    Answer created = w.create(query, 100 * 1024, "whole.bin");
    ASSERT_EQ(201, created.status);
    EXPECT_EQ(204, w.patch(created.header("location"), 0, "some bytes").status);
    EXPECT_EQ(413, w.create(query, 100 * 1024, "again.bin").status);
    EXPECT_TRUE(pollUntil([&] { return partsIn(host.profileDir).empty(); }));
    EXPECT_EQ(404, w.head(created.header("location")).status);
    EXPECT_EQ(201, w.create(query, 100 * 1024, "again.bin").status);
}

// tus-js-client, the protocol's own client from npm, in node.
TEST_F(Tus, TusJsClientUploadsInChunks) {
    // The source tree, from the build tree the host was built in.
    const std::string build = Poco::Path(hostBinary()).parent().parent().toString();
    std::string cache = readFile(build + "CMakeCache.txt"), source;
    const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    const auto at = cache.find(key);
    ASSERT_NE(std::string::npos, at);
    source = cache.substr(at + key.size(), cache.find('\n', at) - at - key.size());
    const std::string modules = source + "/tests/browser/node_modules";
    ASSERT_TRUE(Poco::File(modules + "/tus-js-client").exists()) << "run scripts/install-deps";

    const std::string content = pattern(5 * 1024 * 1024 + 3, 11);
    writeNew(host->root + "/js/clip.bin", content);
    writeFile(host->root + "/js/upload.js", R"JS(
const tus = require('tus-js-client');
const fs = require('fs');
const [file, endpoint, auth] = process.argv.slice(2);
const data = fs.readFileSync(file);
const upload = new tus.Upload(data, {
  endpoint, chunkSize: 1024 * 1024, retryDelays: [0, 500],
  headers: { Authorization: auth },
  metadata: { filename: 'from node.bin', relativePath: 'node/from node.bin' },
  onError: (e) => { console.error('failed: ' + e); process.exit(1); },
  onSuccess: () => { console.log('done ' + upload.url); },
});
upload.start();
)JS");
    Command node = runShell(
        "NODE_PATH=" + shellQuote(modules) + " node " + shellQuote(host->root + "/js/upload.js") +
        " " + shellQuote(host->root + "/js/clip.bin") + " " +
        shellQuote(DavHost(*host).url("/app/dapplinepro/upload?sharename=box&dirname=box/js")) +
        " " + shellQuote(basicAuth("writer", "wpass12345")));
    EXPECT_EQ(0, node.status) << node.output;
    EXPECT_NE(std::string::npos, node.output.find("done http://127.0.0.1:")) << node.output;
    EXPECT_TRUE(content == readFile(box + "/js/node/from node.bin"));
}
