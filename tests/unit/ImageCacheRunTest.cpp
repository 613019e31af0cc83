// The owner's background run over a share's pictures: what it collects, the
// cache entries it leaves, its counters, and starting and stopping it.
#include <Poco/Path.h>
#include <gtest/gtest.h>

#include "ImageCacheFixture.h"
#include "orvane/HTTPUtil.h"

using namespace Orvane;
using ImageCacheSupport::decode;
using ImageCacheSupport::Decoded;
using ImageCacheSupport::WriteLock;
using ImageCacheSupport::writePicture;
using TestSupport::MessagePtr;

namespace {

class ImageCacheRun : public ImageCacheSupport::ImageCacheFixture {
protected:
    std::string picture(const std::string& relative, int width = 400, int height = 300) {
        const std::string path = photos() + "/" + relative;
        Poco::File(Poco::Path(path).parent()).createDirectories();
        return writePicture(path, width, height);
    }
    std::string photos() { return m_temp->path() + "/photos"; }

    Decoded thumbOf(const std::string& folder, const std::string& key, const std::string& stamp) {
        std::string data;
        auto db = cache(folder);
        if (!db || !db->isThumbPresent(key, stamp) || !db->getThumbImage(key, data))
            return Decoded();
        return decode(data);
    }
    Decoded slideOf(const std::string& folder, const std::string& key, const std::string& stamp) {
        std::string data;
        auto db = cache(folder);
        if (!db || !db->isSlidePresent(key, stamp) || !db->getSlideImage(key, data))
            return Decoded();
        return decode(data);
    }

    // Starts a run over the share and waits until it has ended with every
    // picture counted.
    void runOver(const std::string& share, int pictures) {
        ASSERT_NE("", startCaching(share));
        ASSERT_EQ(pictures, status().first);
        ASSERT_TRUE(waitUntilCompleted(pictures));
        ASSERT_TRUE(waitUntilRunEnded());
    }
};

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST_F(ImageCacheRun, StatusBeforeAnyRunIsZero) {
    EXPECT_EQ(
        "<status><cachestatus><total>0</total><completed>0</completed></cachestatus></status>",
        call(ownerRequest("getcachestatus")).body);
}

TEST_F(ImageCacheRun, OnlyTheOwnerStartsARun) {
    picture("a.jpg");
    addShare("holiday", photos());
    const TestSupport::Reply refused = call(request("startcaching", "sharename=holiday", 0));
    EXPECT_NE(std::string::npos, refused.body.find("Authentication Failed"));
    EXPECT_EQ(0, status().first);
}

TEST_F(ImageCacheRun, CollectsVisiblePicturesOnly) {
    const std::string a = picture("a.jpg");
    const std::string b = picture("B.PNG");
    const std::string d = picture("sub/deeper/d.jpeg");
    const std::string amp = picture("Tom & Jerry.jpg");
    const std::string raw = m_temp->write("photos/c.cr2", "not a raw file");
    picture(".hidden/e.jpg");
    picture("sub/.f.jpg");
    m_temp->write("photos/notes.txt", "x");
    m_temp->write("photos/song.mp3", "x");
    m_temp->write("photos/clip.mp4", "x");
    m_temp->mkdir("photos/empty");
    addShare("holiday", photos());

    const std::string body = startCaching("holiday");
    EXPECT_EQ(0u, body.find("<images>"));
    EXPECT_EQ(5, countOf(body, "<image>"));
    for (const std::string& path : {a, b, d, raw})
        EXPECT_NE(std::string::npos, body.find("<image>" + path + "</image>")) << path;
    EXPECT_NE(std::string::npos, body.find("<image>" + photos() + "/Tom &amp; Jerry.jpg</image>"));
    for (const char* never : {".hidden", ".f.jpg", "notes", "song", "clip"})
        EXPECT_EQ(std::string::npos, body.find(never)) << never;
    EXPECT_EQ(5, status().first);
    EXPECT_TRUE(waitUntilCompleted(5));
}

TEST_F(ImageCacheRun, NoShareOrNoFolderListsNothing) {
    const std::string file = picture("single.jpg");
    addShare("file", file);
    addShare("gone", m_temp->path() + "/gone");
    EXPECT_EQ("<images></images>", startCaching("file"));
    EXPECT_EQ("<images></images>", startCaching("gone"));
    EXPECT_EQ("<images></images>", startCaching("nosuchshare"));
    EXPECT_EQ("<images></images>", call(ownerRequest("startcaching")).body);
    EXPECT_EQ(0, status().first);
}

TEST_F(ImageCacheRun, DefaultSizesKeyByTheFileName) {
    const std::string a = picture("a.jpg", 1600, 1200);
    addShare("medium", photos(), 1, 0);
    runOver("medium", 1);

    const Decoded thumb = thumbOf(photos(), "a.jpg", stampOf(a));
    ASSERT_TRUE(thumb.ok);
    EXPECT_EQ(128, thumb.width);
    EXPECT_EQ(96, thumb.height);
    const Decoded slide = slideOf(photos(), "a.jpg", stampOf(a));
    ASSERT_TRUE(slide.ok);
    EXPECT_EQ(800, slide.width);
    EXPECT_EQ(600, slide.height);
}

TEST_F(ImageCacheRun, OtherSizesCarryThemInTheKey) {
    const std::string a = picture("a.jpg", 1600, 1200);
    const std::string small = m_temp->mkdir("small");
    const std::string b = writePicture(small + "/b.png", 1600, 800);
    addShare("large", photos(), 2, 1);
    addShare("small", small, 0, 0);
    runOver("large", 1);
    runOver("small", 1);

    EXPECT_EQ(256, thumbOf(photos(), "a.jpg_256x256", stampOf(a)).width);
    EXPECT_EQ(1024, slideOf(photos(), "a.jpg_1024x768", stampOf(a)).width);
    EXPECT_FALSE(thumbOf(photos(), "a.jpg", stampOf(a)).ok);
    EXPECT_FALSE(slideOf(photos(), "a.jpg", stampOf(a)).ok);
    const Decoded tiny = thumbOf(small, "b.png_64x64", stampOf(b));
    EXPECT_EQ(64, tiny.width);
    EXPECT_EQ(32, tiny.height);
    EXPECT_EQ(800, slideOf(small, "b.png", stampOf(b)).width);
}

TEST_F(ImageCacheRun, UnchangedFilesAreNotRenderedAgain) {
    const std::string a = picture("a.jpg");
    addShare("holiday", photos());
    runOver("holiday", 1);
    const std::string stamp = stampOf(a);
    // Marked entries survive a second run only if nothing was rendered.
    ASSERT_TRUE(cache(photos())->addThumbImage("a.jpg", "marked thumb", stamp));
    ASSERT_TRUE(cache(photos())->addSlideImage("a.jpg", "marked slide", stamp));
    runOver("holiday", 1);
    std::string data;
    ASSERT_TRUE(cache(photos())->getThumbImage("a.jpg", data));
    EXPECT_EQ("marked thumb", data);
    ASSERT_TRUE(cache(photos())->getSlideImage("a.jpg", data));
    EXPECT_EQ("marked slide", data);

    touch(a, -3600);
    ASSERT_NE(stamp, stampOf(a));
    runOver("holiday", 1);
    EXPECT_EQ(128, thumbOf(photos(), "a.jpg", stampOf(a)).width);
    // 400 x 300 already fits the slide box and stays as it is.
    EXPECT_EQ(300, slideOf(photos(), "a.jpg", stampOf(a)).height);
    EXPECT_FALSE(cache(photos())->isThumbPresent("a.jpg", stamp));
    EXPECT_EQ(1, rows("thumbnails"));
    EXPECT_EQ(1, rows("slides"));
}

TEST_F(ImageCacheRun, PicturesThatCannotBeReadStillCount) {
    picture("a.jpg");
    picture("b.png");
    m_temp->write("photos/corrupt.jpg", std::string("\xff\xd8\xff\xe0", 4) + "garbage");
    m_temp->write("photos/empty.png", "");
    addShare("holiday", photos());
    runOver("holiday", 4);
    EXPECT_EQ(4, status().second);
    EXPECT_EQ(2, rows("thumbnails"));
    EXPECT_EQ(2, rows("slides"));
}

TEST_F(ImageCacheRun, StartingWhileRunningAnswersNothingAndResetsTheCounters) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        picture(name, 64, 48);
    addShare("holiday", photos());
    ASSERT_TRUE(cache(photos()));
    // The run cannot store anything while the lock is held: it stays busy.
    WriteLock lock(cacheFile());
    ASSERT_TRUE(lock.held());
    ASSERT_EQ(3, countOf(startCaching("holiday"), "<image>"));

    const TestSupport::Reply again = call(ownerRequest("startcaching", "sharename=holiday"));
    EXPECT_EQ(200, again.status);
    EXPECT_EQ("", again.body);
    EXPECT_EQ(0, status().first);
    lock.release();
}

TEST_F(ImageCacheRun, CancelStopsTheRunAfterThePictureInHand) {
    for (int i = 0; i < 5; ++i)
        picture("p" + std::to_string(i) + ".jpg", 64, 48);
    addShare("holiday", photos());
    ASSERT_TRUE(cache(photos()));
    WriteLock lock(cacheFile());
    ASSERT_EQ(5, countOf(startCaching("holiday"), "<image>"));

    const MessagePtr cancel = ownerRequest("cancelcaching");
    deliver(cancel);
    EXPECT_TRUE(repliesFor(cancel).empty());
    // Had the run gone on, it would store the other pictures now.
    lock.release();
    ASSERT_TRUE(waitUntilRunEnded());
    EXPECT_EQ(0, rows("thumbnails"));
    EXPECT_EQ(5, status().first);
    EXPECT_EQ(5, countOf(startCaching("holiday"), "<image>"));
}

TEST_F(ImageCacheRun, CancelOfManyOrdinaryPicturesReturnsWithTheRunEnded) {
    for (int i = 0; i < 200; ++i)
        picture("p" + std::to_string(i) + ".jpg", 320, 240);
    addShare("holiday", photos());
    ASSERT_EQ(200, countOf(startCaching("holiday"), "<image>"));
    deliver(ownerRequest("cancelcaching"));
    const int stored = rows("thumbnails");
    ASSERT_TRUE(waitUntilRunEnded());
    EXPECT_EQ(stored, rows("thumbnails"));
}

TEST_F(ImageCacheRun, ShutdownWaitsForARunningRunToEnd) {
    for (int i = 0; i < 5; ++i)
        picture("p" + std::to_string(i) + ".jpg", 64, 48);
    addShare("holiday", photos());
    ASSERT_TRUE(cache(photos()));
    WriteLock lock(cacheFile());
    ASSERT_EQ(5, countOf(startCaching("holiday"), "<image>"));
    // The picture in hand keeps the run past the usual wait at shutdown.
    stopPlugin();
    lock.release();
    ASSERT_TRUE(waitUntilRunEnded());
    EXPECT_EQ(0, rows("thumbnails"));
}

TEST_F(ImageCacheRun, CancelSyncDropsAnEndedRun) {
    picture("a.jpg");
    addShare("holiday", photos());
    runOver("holiday", 1);
    const MessagePtr cancel = ownerRequest("CANCELSYNC");
    deliver(cancel);
    EXPECT_TRUE(repliesFor(cancel).empty());
    // The counters stay as the run left them.
    EXPECT_EQ(1, status().first);
    EXPECT_EQ(1, status().second);
    runOver("holiday", 1);
}

TEST_F(ImageCacheRun, ClearCacheConfirmsAndKeepsTheEntries) {
    const std::string a = picture("a.jpg");
    addShare("holiday", photos());
    runOver("holiday", 1);
    EXPECT_EQ(Util::HTTP::getXMLResult("clearcache", true, ""),
              call(ownerRequest("clearcache")).body);
    EXPECT_TRUE(cache(photos())->isThumbPresent("a.jpg", stampOf(a)));
    EXPECT_TRUE(cache(photos())->isSlidePresent("a.jpg", stampOf(a)));
}

TEST_F(ImageCacheRun, OnlyTheHostsReportsMoveTheProgress) {
    const MessagePtr fromWeb = ownerRequest("imageprecache");
    deliver(fromWeb);
    EXPECT_TRUE(repliesFor(fromWeb).empty());
    EXPECT_EQ(0, status().second);

    const MessagePtr fromHost = ownerRequest("imageprecache");
    fromHost->authLocation = 100;
    deliver(fromHost);
    EXPECT_TRUE(repliesFor(fromHost).empty());
    EXPECT_EQ(1, status().second);
}
