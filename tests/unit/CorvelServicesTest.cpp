// Small host services: HTTP helpers, customisation values, the attempts
// tracker (per client of the delivered message), the guest user's XML and
// the services not built yet.
#include <Poco/Delegate.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "ImageCacheSupport.h"
#include "TestSupport.h"
#include "orvane/AttemptsTracker.h"
#include "orvane/CacheDB.h"
#include "orvane/Customization.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Exception.h"
#include "orvane/GuestUser.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Image.h"
#include "orvane/MessageUtil.h"
#include "orvane/ProfileManager.h"

using namespace Orvane;
using TestSupport::TempDir;

TEST(CorvelHTTPUtil, XMLResultEscapesBothTexts) {
    EXPECT_EQ(
        "<result><operation>addshare</operation><success>1</success><message></message></result>",
        Util::HTTP::getXMLResult("addshare", true, ""));
    EXPECT_EQ(
        "<result><operation>a&lt;b&gt;</operation><success>0</success>"
        "<message>Tom &amp; &quot;Jerry&quot;</message></result>",
        Util::HTTP::getXMLResult("a<b>", false, "Tom & \"Jerry\""));
}

TEST(CorvelHTTPUtil, ContentTypesByLowerCasedExtension) {
    using Util::HTTP::getHTTPContentType;
    EXPECT_EQ("image/jpeg", getHTTPContentType("a.jpg"));
    EXPECT_EQ("image/jpeg", getHTTPContentType("/x/y/A.JPEG"));
    EXPECT_EQ("image/jpeg", getHTTPContentType("b.Jpe"));
    EXPECT_EQ("image/png", getHTTPContentType("force_auth.png"));
    EXPECT_EQ("image/gif", getHTTPContentType("images/force_auth.gif"));
    EXPECT_EQ("image/svg+xml", getHTTPContentType("logo.svg"));
    for (const char* raw : {"x.cr2", "x.NEF", "x.arw", "x.dng", "x.orf", "x.rw2", "x.raf"}) {
        EXPECT_EQ("image/raw", getHTTPContentType(raw)) << raw;
    }
    EXPECT_EQ("audio/mpeg", getHTTPContentType("song.MP3"));
    EXPECT_EQ("video/mp4", getHTTPContentType("clip.mp4"));
    EXPECT_EQ("text/css", getHTTPContentType("dapplinepro.css"));
    EXPECT_EQ("application/javascript", getHTTPContentType("jquery.js"));
    EXPECT_EQ("text/html", getHTTPContentType("index.htm"));
    EXPECT_EQ("application/pdf", getHTTPContentType("doc.pdf"));
    EXPECT_EQ("application/zip", getHTTPContentType("Orvane_Zip_1.zip"));
    EXPECT_EQ("application/octet-stream", getHTTPContentType("noextension"));
    EXPECT_EQ("application/octet-stream", getHTTPContentType("/dir.jpg/file"));
    EXPECT_EQ("application/octet-stream", getHTTPContentType("x.unknown"));
    EXPECT_EQ("application/octet-stream", getHTTPContentType("trailingdot."));
}

TEST(CorvelHTTPUtil, LoadRawData) {
    Util::MessageUtil::MessagePtr msg =
        Util::MessageUtil::createNewMessage("SyncProxyService", "SYNC");
    const std::string bytes("\xFF\xD8\0\x01", 4);
    Util::HTTP::loadRawData(msg, bytes, "image/jpeg");
    ASSERT_TRUE(msg->getRawData());
    EXPECT_EQ(bytes, msg->getRawData()->toString());
    EXPECT_EQ("image/jpeg",
              (*msg)[Defs::HTTP::MS_HTTP_RESP][Defs::HTTP::S_HTTP_RESP_TYPE].getString());
    Util::MessageUtil::MessagePtr none;
    EXPECT_THROW(Util::HTTP::loadRawData(none, bytes, "image/jpeg"), Orvane::Exception);
}

TEST(CorvelCustomization, LoadsPropertiesFile) {
    TempDir temp;
    const std::string file = temp.write("customization.properties",
                                        "# branding\n"
                                        "PRODUCT_NAME = My Cloud\n"
                                        "PRODUCT_WEBSITE_URL=https://example.org/a=b\n"
                                        "EMPTY=\n"
                                        "mail.footer.text: Thanks ${user}\n"
                                        "DapplineLogo=logo.png\n");
    Misc::CustomizationManager values;
    values.setCustomizationValue("OLD", "gone after load");
    values.load(file);
    EXPECT_EQ("My Cloud", values.getCustomizationValue("PRODUCT_NAME"));
    EXPECT_EQ("https://example.org/a=b", values.getCustomizationValue("PRODUCT_WEBSITE_URL"));
    EXPECT_EQ("Thanks ${user}", values.getCustomizationValue("mail.footer.text"));
    EXPECT_EQ("logo.png", values.getCustomizationValue("DapplineLogo"));
    EXPECT_TRUE(values.hasCustomizationValue("EMPTY"));
    EXPECT_EQ("", values.getCustomizationValue("EMPTY"));
    EXPECT_FALSE(values.hasCustomizationValue("OLD"));
    EXPECT_FALSE(values.hasCustomizationValue("mail.footer"));
    EXPECT_EQ("", values.getCustomizationValue("UNSET"));

    values.load(temp.path() + "/missing.properties");
    EXPECT_FALSE(values.hasCustomizationValue("PRODUCT_NAME"));
    values.setCustomizationValue("PRODUCT_NAME", "");
    EXPECT_TRUE(values.hasCustomizationValue("PRODUCT_NAME"));
    values.clear();
    EXPECT_FALSE(values.hasCustomizationValue("PRODUCT_NAME"));
}

TEST(CorvelAttemptsTracker, LocksAtTheLimitUntilReset) {
    Util::AttemptsTracker tracker(3, 60, 600);
    EXPECT_FALSE(tracker.isLocked());
    tracker.addAttempt();
    tracker.addAttempt();
    EXPECT_FALSE(tracker.isLocked());
    tracker.addAttempt();
    EXPECT_TRUE(tracker.isLocked());
    tracker.addAttempt();
    EXPECT_TRUE(tracker.isLocked());
    tracker.reset();
    EXPECT_FALSE(tracker.isLocked());
    tracker.addAttempt();
    EXPECT_FALSE(tracker.isLocked()) << "reset also forgets the earlier failures";
}

TEST(CorvelAttemptsTracker, LockEndsAndCountingStartsAfresh) {
    Util::AttemptsTracker tracker(2, 60, 0);
    tracker.addAttempt();
    tracker.addAttempt();
    EXPECT_FALSE(tracker.isLocked()) << "a lock of 0 seconds is already over";
    tracker.addAttempt();
    EXPECT_FALSE(tracker.isLocked()) << "failures before the lock do not count again";
}

namespace {

// A service that counts a failed log-in for every "wrong" message and
// notes, for every message, whether the tracker holds its client locked.
class GuessingService {
public:
    explicit GuessingService(Util::AttemptsTracker& tracker)
        : m_tracker(tracker), m_info(new System::MessageEventInfo()) {
        m_info->event += Poco::delegate(this, &GuessingService::onMessage);
        Orvane::Dispatcher()->registerService(kName, m_info);
    }
    ~GuessingService() {
        Orvane::Dispatcher()->unregisterService(kName);
        m_info->event -= Poco::delegate(this, &GuessingService::onMessage);
    }
    static boost::shared_ptr<Data::Message> message(const std::string& op,
                                                    const std::string& client) {
        auto msg = Util::MessageUtil::createNewMessage(kName, op);
        msg->clientAddress = client;
        return msg;
    }
    // client -> locked, once `count` messages were handled.
    std::map<std::string, bool> lockedAfter(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_handled >= count; });
        return m_locked;
    }

private:
    void onMessage(const void*, boost::shared_ptr<Data::Message>& msg) {
        if (msg->operation == "wrong")
            m_tracker.addAttempt();
        const bool locked = m_tracker.isLocked();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_locked[msg->clientAddress] = locked;
        ++m_handled;
        m_changed.notify_all();
    }

    static constexpr const char* kName = "GuessingServiceTest";
    Util::AttemptsTracker& m_tracker;
    boost::shared_ptr<System::MessageEventInfo> m_info;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, bool> m_locked;
    std::size_t m_handled = 0;
};

}  // namespace

// One tracker for everybody, as a plug-in keeps it: what a handler counts is
// the client's of the message it handles, on the posting thread and on the
// deferred workers alike.
TEST(CorvelAttemptsTracker, CountsForTheClientOfTheMessageBeingDelivered) {
    Util::AttemptsTracker tracker(2, 60, 600);
    GuessingService service(tracker);
    Orvane::Dispatcher()->postMessage(GuessingService::message("wrong", "198.51.100.1"));
    Orvane::DeferredDispatcher()->postMessage(GuessingService::message("wrong", "198.51.100.1"));
    ASSERT_EQ(1u, service.lockedAfter(2).size());
    Orvane::DeferredDispatcher()->postMessage(GuessingService::message("upload", "203.0.113.5"));
    Orvane::DeferredDispatcher()->postMessage(GuessingService::message("upload", "198.51.100.1"));
    const std::map<std::string, bool> expected = {{"198.51.100.1", true}, {"203.0.113.5", false}};
    EXPECT_EQ(expected, service.lockedAfter(4));
    EXPECT_FALSE(tracker.isLocked()) << "outside a delivery there is no client";
    EXPECT_TRUE(tracker.isLocked("198.51.100.1"));
    EXPECT_EQ("", System::currentClientAddress());
}

TEST(CorvelGuestUser, ToXMLEscapesTheName) {
    Data::GuestUser user(7, "Tom & <Jerry>", "secret");
    EXPECT_EQ("<user><userid>7</userid><username>Tom &amp; &lt;Jerry&gt;</username></user>",
              user.toXML());
    EXPECT_EQ("<user><userid>-1</userid><username>x</username></user>",
              Data::GuestUser("x", "pw").toXML());
}

TEST(CorvelImageCache, PicturesAreScaledAndKeptPerFolder) {
    TempDir temp;
    API::ProfileManager::loadProfile(temp.path() + "/profile");
    const std::string photos = temp.mkdir("photos");
    const std::string path = ImageCacheSupport::writePicture(photos + "/a.png", 300, 150);
    Data::Image image(path, 0);
    std::string data;
    ASSERT_TRUE(image.resizeImage(64, 64));
    ASSERT_TRUE(image.saveToRawData(0, data));
    EXPECT_EQ("jpegload_buffer", ImageCacheSupport::decode(data).loader);
    EXPECT_EQ(64, image.width());
    EXPECT_EQ(32, image.height());
    EXPECT_THROW(Data::Image(temp.write("b.jpg", "not really"), 0).resizeImage(64, 64),
                 Orvane::Exception);

    EXPECT_FALSE(System::LocalCacheDBHolder::GetCacheDB(temp.path() + "/missing"));
    auto db = System::LocalCacheDBHolder::GetCacheDB(photos);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->addThumbImage("a.png_64x64", data, "2024-01-01 00:00:00"));
    EXPECT_TRUE(db->isThumbPresent("a.png_64x64", "2024-01-01 00:00:00"));
    EXPECT_TRUE(Poco::File(temp.path() + "/profile/imagecache").isDirectory());
    EXPECT_TRUE(System::LocalCacheDBHolder::ClearAll());
    EXPECT_FALSE(System::LocalCacheDBHolder::GetCacheDB(photos)->isThumbPresent(
        "a.png_64x64", "2024-01-01 00:00:00"));
    API::ProfileManager::unloadProfile();
}
