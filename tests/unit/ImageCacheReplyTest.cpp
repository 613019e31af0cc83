// The share page's picture answers (sizes, cache use, the slide's history
// entry) and the picture and media requests passed on to the host.
#include <Poco/Exception.h>
#include <Poco/Net/NameValueCollection.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ImageCacheFixture.h"
#include "cache/CacheActivity.h"
#include "orvane/Defs.h"
#include "orvane/GuestUserManager.h"

using namespace Orvane;
using ImageCacheSupport::decode;
using ImageCacheSupport::Decoded;
using ImageCacheSupport::writePicture;
using TestSupport::MessagePtr;

namespace {

class ImageCacheReply : public ImageCacheSupport::ImageCacheFixture {
protected:
    void SetUp() override {
        ImageCacheFixture::SetUp();
        m_photos = m_temp->mkdir("photos");
        m_picture = writePicture(m_photos + "/pic.jpg", 2048, 1536);
        m_shareId = addShare("holiday", m_photos);
    }

    // The answer to a file address with the given query.
    TestSupport::Reply answer(const std::string& query, int userId = -1,
                              const std::string& path = "", const std::string& method = "GET") {
        Poco::Net::NameValueCollection form;
        for (const std::string& pair : split(query, '&')) {
            const std::size_t eq = pair.find('=');
            form.add(pair.substr(0, eq), eq == std::string::npos ? "" : pair.substr(eq + 1));
        }
        MessagePtr msg = request("share/holiday/pic.jpg", query);
        (*msg)[Defs::HTTP::MS_HTTP_REQ][Defs::HTTP::S_HTTP_REQ_METHOD] = method;
        m_plugin->sendImageReply(msg, path.empty() ? m_picture : path, form, m_shareId, 1, 0,
                                 userId);
        std::vector<TestSupport::Reply> replies = repliesFor(msg);
        EXPECT_EQ(1u, replies.size());
        return replies.empty() ? TestSupport::Reply() : replies[0];
    }

    int historyCount() {
        const std::string xml = m_plugin->database()->getHistoryXML(0, 100, m_shareId, "");
        const std::size_t at = xml.find("<totalrecords>");
        return at == std::string::npos ? -1 : std::atoi(xml.c_str() + at + 14);
    }

    static std::vector<std::string> split(const std::string& text, char by) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (start <= text.size() && !text.empty()) {
            const std::size_t end = text.find(by, start);
            parts.push_back(text.substr(start, end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        return parts;
    }

    std::string m_photos;
    std::string m_picture;
    int m_shareId = 0;
};

struct SizeCase {
    const char* query;
    int width;
    int height;
};

}  // namespace

TEST_F(ImageCacheReply, SizesFollowTheQuery) {
    const SizeCase cases[] = {
        {"thumbsize=0", 64, 48},   {"thumbsize=1", 128, 96},  {"thumbsize=2", 256, 192},
        {"thumbsize=7", 128, 96},  {"thumbsize=abc", 64, 48}, {"viewsize=0", 800, 600},
        {"viewsize=1", 1024, 768}, {"viewsize=", 800, 600},   {"thumbsize=2&viewsize=1", 256, 192},
    };
    for (const SizeCase& c : cases) {
        const TestSupport::Reply reply = answer(c.query);
        EXPECT_EQ(200, reply.status) << c.query;
        EXPECT_EQ("image/jpeg", reply.contentType) << c.query;
        EXPECT_EQ("max-age=1800", reply.field(Defs::HTTP::S_HTTP_SET_CACHE_CONTROL)) << c.query;
        const Decoded picture = decode(reply.body);
        EXPECT_EQ(c.width, picture.width) << c.query;
        EXPECT_EQ(c.height, picture.height) << c.query;
    }
}

TEST_F(ImageCacheReply, SlidesCountAsDownloadsThumbnailsDoNot) {
    answer("thumbsize=2");
    answer("thumbsize=2&viewsize=1");
    answer("viewsize=1", -1, "", "HEAD");
    EXPECT_EQ(0, historyCount()) << "a HEAD fetches nothing";

    const TestSupport::Reply slide = answer("viewsize=1");
    ASSERT_EQ(1, historyCount());
    const std::string xml = m_plugin->database()->getHistoryXML(0, 10, m_shareId, "");
    EXPECT_NE(std::string::npos, xml.find(m_picture)) << xml;
    ASSERT_FALSE(slide.body.empty());
    EXPECT_EQ(std::string::npos, xml.find("<filesize>0 B</filesize>")) << xml;
    EXPECT_NE(std::string::npos, xml.find("Anonymous")) << xml;

    const int guest = API::GuestUserManager::addGuestUser("alice", "secret-1");
    ASSERT_GT(guest, 0);
    answer("viewsize=0", guest);
    EXPECT_EQ(2, historyCount());
    EXPECT_NE(std::string::npos,
              m_plugin->database()->getHistoryXML(0, 10, m_shareId, "").find("alice"));
}

TEST_F(ImageCacheReply, ServedFromTheCacheUntilTheFileChanges) {
    EXPECT_EQ(256, decode(answer("thumbsize=2").body).width);
    const std::string stamp = stampOf(m_picture);
    auto db = cache(m_photos);
    ASSERT_TRUE(db->isThumbPresent("pic.jpg_256x256", stamp));
    const std::string marker = writePicture(m_temp->path() + "/marker.jpg", 10, 10);
    ASSERT_TRUE(db->addThumbImage("pic.jpg_256x256", TestSupport::readFile(marker), stamp));
    EXPECT_EQ(TestSupport::readFile(marker), answer("thumbsize=2").body);
    // The slide of the same file has its own entry.
    EXPECT_EQ(1024, decode(answer("viewsize=1").body).width);
    ASSERT_TRUE(db->isSlidePresent("pic.jpg_1024x768", stamp));

    touch(m_picture, 120);
    const std::string fresh = answer("thumbsize=2").body;
    EXPECT_EQ(256, decode(fresh).width);
    EXPECT_TRUE(db->isThumbPresent("pic.jpg_256x256", stampOf(m_picture)));
    EXPECT_FALSE(db->isThumbPresent("pic.jpg_256x256", stamp));
    EXPECT_EQ(1, rows("thumbnails"));
}

TEST_F(ImageCacheReply, PicturesThatCannotBeShownAreErrors) {
    const std::string corrupt = m_temp->write("photos/bad.jpg", "\xff\xd8 not a picture");
    MessagePtr msg = request("share/holiday/bad.jpg", "thumbsize=1");
    Poco::Net::NameValueCollection form;
    form.add("thumbsize", "1");
    EXPECT_THROW(m_plugin->sendImageReply(msg, corrupt, form, m_shareId, 1, 0, -1),
                 Poco::Exception);
    // A pipe would keep the decoder waiting for ever.
    const std::string pipe = m_photos + "/pipe.jpg";
    ASSERT_EQ(0, ::mkfifo(pipe.c_str(), 0600));
    EXPECT_THROW(m_plugin->sendImageReply(msg, pipe, form, m_shareId, 1, 0, -1), Poco::Exception);
    EXPECT_TRUE(repliesFor(msg).empty());
    EXPECT_EQ(0, historyCount());
}

// A picture that failed is remembered for its file time: the same file, even
// made good without a new time, is not decoded again; a new time is.
// Pictures of other kinds than the gallery's are never decoded, whatever
// their name says.
TEST_F(ImageCacheReply, ABadPictureIsNotDecodedAgainUntilItChanges) {
    const std::string bad = m_temp->write("photos/bad.jpg", "\xff\xd8 not a picture");
    const Poco::Timestamp time = Poco::File(bad).getLastModified();
    EXPECT_THROW(answer("thumbsize=1", -1, bad), Poco::Exception);
    EXPECT_TRUE(Cache::isKnownFailure(bad, stampOf(bad)));
    Poco::File(m_picture).copyTo(bad);
    Poco::File(bad).setLastModified(time);
    EXPECT_THROW(answer("viewsize=1", -1, bad), Poco::Exception);
    touch(bad, 120);
    EXPECT_EQ(1024, decode(answer("viewsize=1", -1, bad).body).width);

    const std::string svg =
        m_temp->write("photos/drawing.jpg",
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>");
    EXPECT_THROW(answer("thumbsize=1", -1, svg), Poco::Exception);
    const std::string named = writePicture(m_photos + "/real.png", 40, 30);
    Poco::File(named).renameTo(m_photos + "/real.gif");
    EXPECT_THROW(answer("thumbsize=1", -1, m_photos + "/real.gif"), Poco::Exception);
    Poco::File(writePicture(m_photos + "/p.png", 40, 30)).renameTo(m_photos + "/png.jpg");
    EXPECT_EQ(40, decode(answer("thumbsize=1", -1, m_photos + "/png.jpg").body).width)
        << "a PNG named .jpg is still a gallery picture";
    EXPECT_EQ(1, historyCount()) << "only the slide that was shown";
}

TEST_F(ImageCacheReply, AllowedPictureRequestsGoToTheUserManager) {
    const std::string query = "name=" + encoded(m_picture);
    const char* byName[] = {"getfsthumbimage", "getfsslideimage", "getvideocaps",
                            "getmetadatainfo"};
    for (const char* operation : byName) {
        m_userManager->clear();
        const MessagePtr msg = request(operation, query);
        deliver(msg);
        ASSERT_EQ(1u, m_userManager->count()) << operation;
        const MessagePtr passed = m_userManager->messages()[0];
        EXPECT_EQ(operation, passed->operation);
        EXPECT_EQ("UserManager", passed->target);
        EXPECT_EQ("1", (*passed)["GUESTACCESS"]["ALLOW"].getString());
        EXPECT_EQ(tokenOf(msg), tokenOf(passed));
        EXPECT_TRUE(repliesFor(msg).empty()) << operation;
    }
    m_userManager->clear();
    deliver(request("getfolder.jpg", "path=" + encoded(m_photos)));
    EXPECT_EQ(1u, m_userManager->count());
    // Looking at a picture is not a download.
    EXPECT_EQ(0, historyCount());
}

TEST_F(ImageCacheReply, RefusedPictureRequestsAreNotPassedOn) {
    const std::string elsewhere = writePicture(m_temp->path() + "/private.jpg", 20, 20);
    for (const std::string& query :
         {"name=" + encoded(elsewhere), "name=" + encoded(m_photos + "/../private.jpg"),
          std::string("other=1")}) {
        const MessagePtr msg = request("getfsthumbimage", query);
        deliver(msg);
        EXPECT_TRUE(repliesFor(msg).empty()) << query;
    }
    deliver(request("getfolder.jpg", "name=" + encoded(m_photos)));
    EXPECT_EQ(0u, m_userManager->count());
}
