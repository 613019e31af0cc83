// File downloads: the SEND_FILE reply and its dispositions, the record kept
// until SEND_FILE_COMPLETE, the deletion of sent zip files, and the owner's
// list of transfers in progress.
#include <Poco/UUID.h>
#include <Poco/UUIDGenerator.h>

#include "SharePageFixture.h"
#include "orvane/Dispatcher.h"
#include "orvane/HTTPUtil.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

class Download : public ShareFixture {
protected:
    void SetUp() override {
        ShareFixture::SetUp();
        m_file = m_temp->write("pub/my file.txt", "hello");
        m_song = m_temp->write("pub/tune.mp3", "ID3");
        addShare("pub", "pub");
    }

    Reply fetch(const std::string& address, const std::string& query = "",
                const std::string& agent = "") {
        MessagePtr msg = shareRequest(address, query);
        if (!agent.empty())
            setRequestField(msg, HTTP::S_HTTP_REQ_USER_AGENT, agent);
        return call(msg);
    }

    // A transfer started the way the zip download starts one.
    MessagePtr startTransfer(const std::string& path, bool deleteWhenSent, int userId = -1,
                             std::uint64_t size = 5) {
        MessagePtr msg = request("share/pub/x");
        m_plugin->sendChunkedFile(msg, Orvane::Dispatcher(), path, "x", size, userId,
                                  deleteWhenSent);
        return msg;
    }

    MessagePtr completion(const MessagePtr& transfer) {
        MessagePtr msg = ownerRequest(Sync::MO_SEND_FILE_COMPLETE);
        (*msg)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = tokenOf(transfer);
        return msg;
    }

    std::string downloadList() { return call(ownerRequest("getdownloadlist")).body; }

    // The completion shares its token with the transfer's own reply: only
    // what came after the delivery counts.
    std::vector<Reply> answersTo(const MessagePtr& done) {
        const std::size_t before = repliesFor(done).size();
        deliver(done);
        std::vector<Reply> all = repliesFor(done);
        return std::vector<Reply>(all.begin() + before, all.end());
    }

    std::string m_file, m_song;
};

TEST_F(Download, ReplyNamesTheFileForTheHost) {
    Reply r = fetch("pub/my file.txt");
    EXPECT_EQ(m_file, r.field(HTTP::S_HTTP_SEND_FILE));
    EXPECT_EQ("dapplinepro", r.field(Sync::S_SEND_FILE_COMPLETE_SERVICE));
    EXPECT_EQ(Orvane::Util::HTTP::getHTTPContentType(m_file), r.contentType);
    EXPECT_EQ("dapplinepro", r.msg->sender);
    EXPECT_TRUE(r.body.empty());
}

TEST_F(Download, DispositionFollowsActionTypeAndBrowser) {
    const std::string disposition = HTTP::S_HTTP_CONTENT_DISPOSITION;
    EXPECT_EQ("inline; filename=\"my file.txt\"", fetch("pub/my file.txt").field(disposition));
    EXPECT_EQ("attachment; filename=\"my file.txt\"",
              fetch("pub/my file.txt", "action=download").field(disposition));
    EXPECT_FALSE(fetch("pub/my file.txt", "action=view").hasField(disposition));
    EXPECT_EQ("attachment; filename=\"tune.mp3\"", fetch("pub/tune.mp3").field(disposition));
    EXPECT_EQ("attachment; filename=\"tune.mp3\"",
              fetch("pub/tune.mp3", "action=view").field(disposition));
    EXPECT_EQ("inline; filename=\"my%20file.txt\"",
              fetch("pub/my file.txt", "", "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)")
                  .field(disposition));
    EXPECT_EQ("inline; filename=\"my file.txt\"",
              fetch("pub/my file.txt", "", "Mozilla/5.0 (X11; Linux x86_64)").field(disposition));
}

TEST_F(Download, CompletionRemovesTheRecordAndDeletesSentZips) {
    const std::string zip = m_temp->write("pub/Orvane_Zip_1.zip", "PK");
    MessagePtr zipTransfer = startTransfer(zip, true);
    MessagePtr plainTransfer = startTransfer(m_file, false);
    ASSERT_EQ(1u, repliesFor(zipTransfer).size());
    EXPECT_EQ(2u, m_plugin->downloadCount());

    EXPECT_TRUE(answersTo(completion(zipTransfer)).empty());
    EXPECT_FALSE(Poco::File(zip).exists());
    EXPECT_EQ(1u, m_plugin->downloadCount());
    EXPECT_FALSE(contains(downloadList(), "Orvane_Zip_1.zip"));

    deliver(completion(plainTransfer));
    EXPECT_TRUE(Poco::File(m_file).exists());
    EXPECT_EQ(0u, m_plugin->downloadCount());

    // A second completion, or one for a token nobody knows, changes nothing.
    EXPECT_TRUE(answersTo(completion(zipTransfer)).empty());
    MessagePtr stranger = ownerRequest(Sync::MO_SEND_FILE_COMPLETE);
    deliver(stranger);
    EXPECT_TRUE(repliesFor(stranger).empty());
}

TEST_F(Download, ZipThatVanishedIsNoError) {
    const std::string zip = m_temp->write("pub/Orvane_Zip_2.zip", "PK");
    MessagePtr transfer = startTransfer(zip, true);
    Poco::File(zip).remove();
    EXPECT_TRUE(answersTo(completion(transfer)).empty());
    EXPECT_EQ(0u, m_plugin->downloadCount());
}

TEST_F(Download, CompletionAndListAreForTheOwnerOnly) {
    MessagePtr transfer = startTransfer(m_file, false);
    MessagePtr lowSource = completion(transfer);
    lowSource->authSource = 69;
    std::vector<Reply> refusal = answersTo(lowSource);
    ASSERT_EQ(1u, refusal.size());
    EXPECT_TRUE(contains(refusal.front().body, "Bad Source"));
    MessagePtr lowRole = completion(transfer);
    lowRole->authRole = 99;
    refusal = answersTo(lowRole);
    ASSERT_EQ(1u, refusal.size());
    EXPECT_TRUE(contains(refusal.front().body, "Bad Role"));
    EXPECT_EQ(1u, m_plugin->downloadCount());
    Reply list = call(request("getdownloadlist", "", 30));
    EXPECT_TRUE(contains(list.body, "<success>0</success>"));
    EXPECT_FALSE(contains(list.body, m_file));
}

TEST_F(Download, ListShowsEachTransferEscaped) {
    EXPECT_EQ("<downloadlist></downloadlist>", downloadList());
    const std::string odd = m_temp->write("pub/a&b<c>.zip", "0123456789");
    const int ann = addGuest("ann&co", "pw");
    MessagePtr first = startTransfer(odd, false, ann, 10);
    MessagePtr second = startTransfer(m_file, false, -1, 5);
    const std::string firstEntry = "<download><filename>" + m_temp->path() +
                                   "/pub/a&amp;b&lt;c&gt;.zip</filename><user>ann&amp;co</user>"
                                   "<filesize>10</filesize></download>";
    const std::string secondEntry = "<download><filename>" + m_file +
                                    "</filename><user>Anonymous</user><filesize>5</filesize>"
                                    "</download>";
    const bool firstIsLower = Poco::UUID(tokenOf(first)) < Poco::UUID(tokenOf(second));
    EXPECT_EQ("<downloadlist>" +
                  (firstIsLower ? firstEntry + secondEntry : secondEntry + firstEntry) +
                  "</downloadlist>",
              downloadList());
}

TEST_F(Download, ShareDownloadRecordsTheSizeItWasGiven) {
    const std::string big = m_temp->write("pub/big.bin", std::string(3000, 'b'));
    fetch("pub/big.bin");
    EXPECT_TRUE(contains(downloadList(), "<filename>" + big +
                                             "</filename><user>Anonymous</user>"
                                             "<filesize>3000</filesize>"));
}

TEST_F(Download, RepeatedTokenKeepsTheFirstRecord) {
    MessagePtr msg = request("share/pub/x");
    m_plugin->sendChunkedFile(msg, Orvane::Dispatcher(), m_file, "a", 5, -1, false);
    m_plugin->sendChunkedFile(msg, Orvane::Dispatcher(), m_song, "b", 3, -1, false);
    EXPECT_EQ(1u, m_plugin->downloadCount());
    const std::string list = downloadList();
    EXPECT_TRUE(contains(list, m_file));
    EXPECT_FALSE(contains(list, m_song));
}

TEST_F(Download, RefusedPathsLeaveNoTrace) {
    for (const std::string& path : {std::string("/proc/self/status"), std::string("relative.txt"),
                                    m_temp->path() + "/pub/missing.txt"}) {
        MessagePtr msg = request("share/pub/x");
        m_plugin->sendChunkedFile(msg, Orvane::Dispatcher(), path, "x", 1, -1, true);
        EXPECT_TRUE(repliesFor(msg).empty()) << path;
    }
    EXPECT_EQ(0u, m_plugin->downloadCount());
}

TEST_F(Download, TokenThatIsNotAUUIDIsSentButNotRecorded) {
    MessagePtr msg = request("share/pub/x");
    (*msg)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = "not-a-uuid";
    m_plugin->sendChunkedFile(msg, Orvane::Dispatcher(), m_file, "x", 5, -1, false);
    ASSERT_EQ(1u, repliesFor(msg).size());
    EXPECT_EQ(m_file, repliesFor(msg).front().field(HTTP::S_HTTP_SEND_FILE));
    EXPECT_EQ(0u, m_plugin->downloadCount());
}

}  // namespace
