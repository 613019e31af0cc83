// A public share's page and its files as a visitor's browser or curl sees
// them: bytes, ranges, HEAD, validators and 304, names in the disposition.
#include <gtest/gtest.h>

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/URI.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "RunningHost.h"

using namespace E2E;

class FileServing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new RunningHost();
        host->start();
    }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }
    std::string file(const std::string& name) const { return host->sharePath + name; }

    static RunningHost* host;
};

RunningHost* FileServing::host = nullptr;

TEST_F(FileServing, SharePageListsTheFolderAndFilesComeBackByteForByte) {
    HttpClient http = host->client();
    Answer page = http.get(host->sharePath);
    EXPECT_EQ(200, page.status);
    EXPECT_NE(std::string::npos, page.header("content-type").find("text/html"));
    EXPECT_NE(std::string::npos, page.body.find("hello.txt"));
    EXPECT_NE(std::string::npos, page.body.find("sub"));

    Answer text = http.get(file("hello.txt"));
    EXPECT_EQ(200, text.status);
    EXPECT_EQ("hello world\n", text.body);
    EXPECT_EQ("12", text.header("content-length"));
    // A shared file never runs script on the host's origin.
    EXPECT_EQ("sandbox", text.header("content-security-policy"));

    Answer big = http.get(file("big.bin"));
    EXPECT_EQ(200, big.status);
    EXPECT_EQ(host->bigFile.size(), big.body.size());
    EXPECT_TRUE(big.body == host->bigFile);

    Answer inner = http.get(file("sub/inner.txt"));
    EXPECT_EQ(200, inner.status);
    EXPECT_EQ("inside the sub-folder\n", inner.body);
}

TEST_F(FileServing, SingleRangesOnOneKeptAliveConnection) {
    const std::string& data = host->bigFile;
    const std::string size = std::to_string(data.size());
    HttpClient http = host->client();

    Answer first = http.get(file("big.bin"), {{"Range", "bytes=0-99"}});
    EXPECT_EQ(206, first.status);
    EXPECT_EQ("bytes 0-99/" + size, first.header("content-range"));
    EXPECT_EQ(data.substr(0, 100), first.body);

    Answer suffix = http.get(file("big.bin"), {{"Range", "bytes=-100"}});
    EXPECT_EQ(206, suffix.status);
    EXPECT_EQ(data.substr(data.size() - 100), suffix.body);

    const std::size_t from = data.size() - 50;
    Answer openEnd = http.get(file("big.bin"), {{"Range", "bytes=" + std::to_string(from) + "-"}});
    EXPECT_EQ(206, openEnd.status);
    EXPECT_EQ("bytes " + std::to_string(from) + "-" + std::to_string(data.size() - 1) + "/" + size,
              openEnd.header("content-range"));
    EXPECT_EQ(data.substr(from), openEnd.body);

    Answer beyond = http.get(file("big.bin"), {{"Range", "bytes=" + size + "-"}});
    EXPECT_EQ(416, beyond.status);
    EXPECT_EQ("bytes */" + size, beyond.header("content-range"));
    EXPECT_TRUE(beyond.body.empty());

    // The connection is still in step after all of that.
    Answer whole = http.get(file("hello.txt"));
    EXPECT_EQ(200, whole.status);
    EXPECT_EQ("hello world\n", whole.body);
}

TEST_F(FileServing, SeveralRangesOrAnotherUnitGetTheWholeFile) {
    HttpClient http = host->client();
    Answer multi = http.get(file("hello.txt"), {{"Range", "bytes=0-1,4-5"}});
    EXPECT_EQ(200, multi.status);
    EXPECT_EQ("hello world\n", multi.body);
    Answer other = http.get(file("hello.txt"), {{"Range", "lines=1-2"}});
    EXPECT_EQ(200, other.status);
    EXPECT_EQ("hello world\n", other.body);
}

TEST_F(FileServing, HeadAnnouncesTheFileWithoutSendingIt) {
    HttpClient http = host->client();
    Answer head = http.head(file("big.bin"));
    EXPECT_EQ(200, head.status);
    EXPECT_EQ(std::to_string(host->bigFile.size()), head.header("content-length"));
    EXPECT_EQ("bytes", head.header("accept-ranges"));
    EXPECT_FALSE(head.header("etag").empty());
    // The next answer on the same connection is not disturbed by a body.
    Answer next = http.get(file("hello.txt"));
    EXPECT_EQ("hello world\n", next.body);

    // Asking for the headers is no download: a client doing it in a loop
    // adds no history rows. Rows of a file of its own are counted, since
    // those of earlier downloads may still be on their way.
    const std::string counted = host->demoDir + "/counted.bin";
    writeFile(counted, "counted");
    std::string path;
    Poco::URI::encode(counted, "&=+#?", path);
    const auto downloads = [&] {
        const std::string xml =
            http.get("/app/dapplinepro/gethistory?offset=0&max=1000&shareid=-1&filter=DL",
                     host->ownerHeaders())
                .body;
        int n = 0;
        for (auto at = xml.find(counted + "<"); at != std::string::npos;
             at = xml.find(counted + "<", at + 1))
            ++n;
        return n;
    };
    for (int i = 0; i < 3; ++i) {
        Answer headOnly = http.head("/app/dapplinepro/downloadfile?filepath=" + path);
        EXPECT_EQ(200, headOnly.status);
        EXPECT_EQ("7", headOnly.header("content-length"));
    }
    EXPECT_EQ(200, http.get("/app/dapplinepro/downloadfile?filepath=" + path).status);
    // Rows are queued in order: once the GET's is there, a HEAD's would be.
    EXPECT_TRUE(pollUntil([&] { return downloads() >= 1; })) << "a GET still counts";
    EXPECT_EQ(1, downloads());
}

TEST_F(FileServing, ValidatorsAnswer304) {
    HttpClient http = host->client();
    Answer first = http.get(file("hello.txt"));
    const std::string etag = first.header("etag");
    const std::string modified = first.header("last-modified");
    ASSERT_FALSE(etag.empty());
    ASSERT_FALSE(modified.empty());

    Answer byTag = http.get(file("hello.txt"), {{"If-None-Match", etag}});
    EXPECT_EQ(304, byTag.status);
    EXPECT_TRUE(byTag.body.empty());
    EXPECT_EQ(etag, byTag.header("etag"));

    Answer byDate = http.get(file("hello.txt"), {{"If-Modified-Since", modified}});
    EXPECT_EQ(304, byDate.status);

    Answer otherTag = http.get(file("hello.txt"), {{"If-None-Match", "\"something-else\""}});
    EXPECT_EQ(200, otherTag.status);
    EXPECT_EQ("hello world\n", otherTag.body);

    // If-Range with a stale validator gives the whole file, not the range.
    Answer stale = http.get(file("hello.txt"), {{"Range", "bytes=0-4"}, {"If-Range", "\"stale\""}});
    EXPECT_EQ(200, stale.status);
    Answer fresh = http.get(file("hello.txt"), {{"Range", "bytes=0-4"}, {"If-Range", etag}});
    EXPECT_EQ(206, fresh.status);
    EXPECT_EQ("hello", fresh.body);
}

TEST_F(FileServing, MissingFileIs404) {
    HttpClient http = host->client();
    EXPECT_EQ(404, http.get(file("no-such-file.txt")).status);
}

TEST_F(FileServing, DispositionNameIsRebuiltSafely) {
    HttpClient http = host->client();
    Answer odd = http.get(file("quote%22name%20%C3%A9.txt"));
    ASSERT_EQ(200, odd.status);
    EXPECT_EQ("odd name\n", odd.body);
    const std::string disposition = odd.header("content-disposition");
    EXPECT_EQ("inline; filename=\"quote_name __.txt\"; filename*=UTF-8''quote%22name%20%C3%A9.txt",
              disposition);
}

TEST_F(FileServing, BrokenPathsAre400) {
    HttpClient http = host->client();
    EXPECT_EQ(400, http.get(file("a%00b.txt")).status);
    EXPECT_EQ(400, http.get(file("bad%zzescape")).status);
    EXPECT_EQ(400, http.get(file("cut%4")).status);
}

TEST_F(FileServing, ShortLinkOfTheQuickShareRedirects) {
    HttpClient http = host->client();
    Answer shares = http.get("/app/dapplinepro/getshares", host->ownerHeaders());
    const std::string url = xmlText(shares.body, "shareurl");
    const std::string::size_type at = url.find("/url");
    ASSERT_NE(std::string::npos, at) << shares.body;
    Answer jump = http.get(url.substr(at));
    EXPECT_EQ(302, jump.status);
    const std::string location = jump.header("location");
    EXPECT_EQ('/', location.at(0));
    EXPECT_NE(std::string::npos, location.find("mode=public")) << location;
    EXPECT_EQ(404, http.get("/urlNoSuchCode").status);
}

TEST_F(FileServing, HostPagesPointAtTheGuestSignIn) {
    HttpClient http = host->client();
    Answer home = http.get("/");
    EXPECT_EQ(200, home.status);
    EXPECT_NE(std::string::npos, home.body.find("/ui/guest/"));
    Answer signIn = http.get("/ui/guest/");
    EXPECT_EQ(200, signIn.status);
    EXPECT_NE(std::string::npos, signIn.body.find("action=\"/ui/guest/login\""));
    EXPECT_EQ(404, http.get("/nothing/here").status);
}

TEST_F(FileServing, TransfersAreReportedCompleteAlsoWhenTheClientBreaksOff) {
    const std::string downloads = "/app/dapplinepro/getdownloadlist";
    HttpClient owner = host->client();
    auto listed = [&](const std::string& name) {
        return owner.get(downloads, host->ownerHeaders()).body.find(name) != std::string::npos;
    };
    // A finished download leaves the plug-in's list.
    HttpClient http = host->client();
    ASSERT_EQ(200, http.get(file("hello.txt")).status);
    EXPECT_TRUE(pollUntil([&] { return !listed("hello.txt"); }));

    // A client that stops reading holds its transfer open; once it hangs up
    // the transfer is reported complete all the same.
    const std::string large = host->demoDir + "/large.bin";
    {
        std::ofstream out(large, std::ios::binary);
        out.seekp(256 * 1024 * 1024 - 1);
        out.put('\0');
    }
    {
        Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", host->port));
        const std::string request =
            "GET " + file("large.bin") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        socket.sendBytes(request.data(), static_cast<int>(request.size()));
        char buffer[4096];
        ASSERT_GT(socket.receiveBytes(buffer, sizeof(buffer)), 0);
        EXPECT_TRUE(pollUntil([&] { return listed("large.bin"); }));
        socket.close();
    }
    EXPECT_TRUE(pollUntil([&] { return !listed("large.bin"); }));
    std::remove(large.c_str());
}
