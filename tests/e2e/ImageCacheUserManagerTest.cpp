// The host's user manager on the real bus, in this process: the pictures and
// media facts it gives for requests a plug-in allowed, from the same image
// cache, and what it refuses. Pictures are real PNG files written here.
#include <Poco/Checksum.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DeflatingStream.h>
#include <Poco/Delegate.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Path.h>
#include <Poco/TemporaryFile.h>
#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <vector>

#include "orvane/CacheDB.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Image.h"
#include "orvane/MessageUtil.h"
#include "orvane/ProfileManager.h"
#include "services/UserManagerService.h"

using namespace Orvane;

namespace {

std::string be32(unsigned v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string pngChunk(const std::string& type, const std::string& data) {
    Poco::Checksum crc(Poco::Checksum::TYPE_CRC32);
    crc.update(type + data);
    return be32(static_cast<unsigned>(data.size())) + type + data + be32(crc.checksum());
}

// A grey width x height PNG.
void writePNG(const std::string& path, unsigned width, unsigned height) {
    std::ostringstream zipped;
    {
        Poco::DeflatingOutputStream deflate(zipped, Poco::DeflatingStreamBuf::STREAM_ZLIB);
        const std::string row = std::string(1, '\0') + std::string(width, '\x80');
        for (unsigned y = 0; y < height; ++y)
            deflate << row;
        deflate.close();
    }
    Poco::FileOutputStream out(path, std::ios::binary | std::ios::trunc);
    out << std::string("\x89PNG\r\n\x1a\n", 8)
        << pngChunk("IHDR", be32(width) + be32(height) + std::string("\x08\x00\x00\x00\x00", 5))
        << pngChunk("IDAT", zipped.str()) << pngChunk("IEND", "");
}

// Stands in for the web front: keeps every answer.
class Front {
public:
    Front() : m_event(new System::MessageEventInfo()) {
        m_event->event += Poco::delegate(this, &Front::onMessage);
        Orvane::Dispatcher()->registerService(Defs::Service::SYNCPROXYSERVICE, m_event);
    }
    ~Front() {
        Orvane::Dispatcher()->unregisterService(Defs::Service::SYNCPROXYSERVICE);
        m_event->event -= Poco::delegate(this, &Front::onMessage);
    }
    Data::MessagePtr last() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages.empty() ? Data::MessagePtr() : m_messages.back();
    }

private:
    void onMessage(const void*, Data::MessagePtr& msg) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(msg);
    }
    boost::shared_ptr<System::MessageEventInfo> m_event;
    std::mutex m_mutex;
    std::vector<Data::MessagePtr> m_messages;
};

struct Answer {
    int status = 0;
    std::string type;
    std::string cacheControl;
    std::string body;
    std::string token;
};

class ImageCacheUserManager : public ::testing::Test {
protected:
    void SetUp() override {
        Poco::File(m_root).createDirectories();
        API::ProfileManager::loadProfile(m_root + "/profile");
        m_photos = m_root + "/photos";
        Poco::File(m_photos).createDirectories();
        m_service.start();
    }
    void TearDown() override {
        m_service.stop();
        API::ProfileManager::unloadProfile();
        Poco::File(m_root).remove(true);
    }

    // Posts what a plug-in passes on and returns the answer (the service
    // answers on the posting thread).
    Answer ask(const std::string& operation, const std::string& query, bool allow = true) {
        Data::MessagePtr msg = Util::MessageUtil::createNewMessage("UserManager", operation);
        (*msg)[Defs::HTTP::MS_HTTP_REQ][Defs::HTTP::S_HTTP_REQ_REQUEST] = query;
        (*msg)[Defs::Sync::MS_SYNC][Defs::Sync::S_SYNC_TOKEN] = "token-" + operation;
        (*msg)[Defs::GuestAccess::MS_GUESTACCESS][Defs::GuestAccess::S_ALLOW] = allow ? 1 : 0;
        EXPECT_TRUE(Orvane::Dispatcher()->postMessage(msg));
        Answer a;
        Data::MessagePtr reply = m_front.last();
        if (!reply)
            return a;
        a.status = Util::MessageUtil::getHTTPStatus(*reply);
        const Data::VariantRow* resp = reply->findSection(Defs::HTTP::MS_HTTP_RESP);
        a.type = resp ? resp->getString(Defs::HTTP::S_HTTP_RESP_TYPE) : "";
        a.cacheControl = resp ? resp->getString(Defs::HTTP::S_HTTP_SET_CACHE_CONTROL) : "";
        a.body = reply->getRawData() ? reply->getRawData()->toString() : "";
        const Data::VariantRow* sync = reply->findSection(Defs::Sync::MS_SYNC);
        a.token = sync ? sync->getString(Defs::Sync::S_SYNC_TOKEN) : "";
        return a;
    }

    static std::string q(const std::string& name, const std::string& value) {
        std::string out;
        Poco::URI::encode(value, "&=+#?", out);
        return name + "=" + out;
    }

    // Width and height of a JPEG answer, read back by the host's own reader.
    std::pair<int, int> sizeOf(const std::string& jpeg) {
        const std::string file = m_root + "/answer.jpg";
        Poco::FileOutputStream(file, std::ios::binary | std::ios::trunc) << jpeg;
        Data::Image image(file, 0);
        return {image.width(), image.height()};
    }

    std::string picture(const std::string& name, unsigned width, unsigned height) {
        const std::string path = m_photos + "/" + name;
        writePNG(path, width, height);
        return path;
    }

    std::string m_root = Poco::TemporaryFile::tempName();
    std::string m_photos;
    Front m_front;
    Host::UserManagerService m_service;
};

}  // namespace

TEST_F(ImageCacheUserManager, ThumbnailsAndSlidesComeFromTheFoldersCache) {
    const std::string path = picture("wide.png", 1600, 800);
    const Answer thumb = ask("getfsthumbimage", q("name", path));
    ASSERT_EQ(200, thumb.status) << thumb.body;
    EXPECT_EQ("image/jpeg", thumb.type);
    EXPECT_EQ("max-age=1800", thumb.cacheControl);
    EXPECT_EQ("token-getfsthumbimage", thumb.token);
    EXPECT_EQ(std::make_pair(128, 64), sizeOf(thumb.body));

    const Answer slide = ask("getfsslideimage", q("name", path));
    ASSERT_EQ(200, slide.status);
    EXPECT_EQ(std::make_pair(800, 400), sizeOf(slide.body));

    const std::string stamp = Poco::DateTimeFormatter::format(
        Poco::File(path).getLastModified(), Poco::DateTimeFormat::SORTABLE_FORMAT);
    auto db = System::LocalCacheDBHolder::GetCacheDB(m_photos);
    ASSERT_TRUE(db);
    std::string cached;
    ASSERT_TRUE(db->isThumbPresent("wide.png", stamp));
    ASSERT_TRUE(db->getThumbImage("wide.png", cached));
    EXPECT_EQ(thumb.body, cached);
    // An entry the galleries stored is what the explorer gets.
    ASSERT_TRUE(db->addSlideImage("wide.png", "stored by a gallery", stamp));
    EXPECT_EQ("stored by a gallery", ask("getfsslideimage", q("name", path)).body);
}

TEST_F(ImageCacheUserManager, TheFolderPictureIsFolderJpgElseTheFirstByName) {
    picture("b.png", 100, 100);
    picture("a.png", 200, 100);
    picture(".hidden.png", 50, 100);
    Answer first = ask("getfolder.jpg", q("path", m_photos));
    ASSERT_EQ(200, first.status);
    EXPECT_EQ(std::make_pair(128, 64), sizeOf(first.body));

    picture("Folder.jpg", 100, 200);
    EXPECT_EQ(std::make_pair(64, 128), sizeOf(ask("getfolder.jpg", q("path", m_photos)).body));

    Poco::File(m_root + "/empty").createDirectories();
    EXPECT_EQ(404, ask("getfolder.jpg", q("path", m_root + "/empty")).status);
}

TEST_F(ImageCacheUserManager, FactsAreASmallXML) {
    const std::string path = picture("Tom & Jerry.png", 30, 20);
    const Answer facts = ask("getmetadatainfo", q("name", path));
    ASSERT_EQ(200, facts.status);
    EXPECT_EQ("text/xml; charset=utf-8", facts.type);
    EXPECT_EQ("<metadatainfo><name>Tom &amp; Jerry.png</name><type>image/png</type><size>" +
                  std::to_string(Poco::File(path).getSize()) + "</size><modified>" +
                  Poco::DateTimeFormatter::format(Poco::File(path).getLastModified(),
                                                  Poco::DateTimeFormat::SORTABLE_FORMAT) +
                  "</modified><width>30</width><height>20</height></metadatainfo>",
              facts.body);

    const std::string clip = m_photos + "/clip.mp4";
    Poco::FileOutputStream(clip) << "not really a film";
    const Answer caps = ask("getvideocaps", q("name", clip));
    ASSERT_EQ(200, caps.status);
    EXPECT_EQ(0u, caps.body.find("<videocaps><name>clip.mp4</name><type>video/mp4</type>"));
    EXPECT_NE(std::string::npos, caps.body.find("<playable>1</playable></videocaps>"));
    EXPECT_EQ(std::string::npos, caps.body.find("<width>"));
}

TEST_F(ImageCacheUserManager, RefusesWhatWasNotAllowedOrCannotBeShown) {
    const std::string path = picture("a.png", 20, 20);
    EXPECT_EQ(403, ask("getfsthumbimage", q("name", path), false).status);
    EXPECT_EQ(403, ask("getmetadatainfo", q("name", path), false).status);
    EXPECT_EQ(404, ask("getfsthumbimage", q("name", m_photos + "/missing.png")).status);
    EXPECT_EQ(404, ask("getfsthumbimage", q("name", m_photos + "/../photos/a.png")).status);
    EXPECT_EQ(404, ask("getfsthumbimage", q("name", "relative/a.png")).status);
    EXPECT_EQ(404, ask("getmetadatainfo", q("name", "/proc/self/status")).status);
    EXPECT_EQ(404, ask("getfsthumbimage", q("name", m_photos)).status);
    EXPECT_EQ(404, ask("getfsthumbimage", "").status);
    EXPECT_EQ(404, ask("nosuchoperation", q("name", path)).status);

    const std::string text = m_photos + "/notes.txt";
    Poco::FileOutputStream(text) << "text";
    EXPECT_EQ(415, ask("getfsthumbimage", q("name", text)).status);
    const std::string broken = m_photos + "/broken.png";
    Poco::FileOutputStream(broken) << "\x89PNG but nothing else";
    EXPECT_EQ(415, ask("getfsslideimage", q("name", broken)).status);
}

TEST_F(ImageCacheUserManager, OtherPartsOfTheHostAddOperations) {
    Host::UserManagerService service;
    service.addOperation("downloadfile", [](Data::MessagePtr& msg) {
        Host::UserManagerService::answer(msg, 200, "text/plain", "sent");
    });
    m_service.stop();
    service.start();
    EXPECT_EQ("sent", ask("downloadfile", "").body);
    EXPECT_EQ(403, ask("downloadfile", "", false).status);
    service.stop();
    m_service.start();
}
