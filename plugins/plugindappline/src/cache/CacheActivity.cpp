#include "cache/CacheActivity.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Timestamp.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "orvane/AuthKey.h"
#include "orvane/CacheDB.h"
#include "orvane/Dispatcher.h"
#include "orvane/Exception.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Image.h"
#include "orvane/MessageUtil.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Cache {
namespace {

const char* const SECTION = "DAPPLINE";
const int DEFAULT_THUMB_SIDE = 128;
const int DEFAULT_SLIDE_WIDTH = 800;
const int DEFAULT_SLIDE_HEIGHT = 600;
// Failures remembered at most; the oldest are forgotten first.
const std::size_t MAX_FAILURES = 4096;

// Path to stamp of the pictures that failed, and their order of arrival.
struct Failures {
    std::mutex mutex;
    std::unordered_map<std::string, std::string> stamps;
    std::deque<std::string> order;
};

Failures& failures() {
    static Failures all;
    return all;
}

Poco::Logger& log() {
    return Poco::Logger::get("Dapplinepro");
}

// At most four: the run is background work, and visitors need cores too.
unsigned workerCount() {
    return std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
}

std::string sizeSuffix(int width, int height) {
    return "_" + std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

std::string thumbKey(const std::string& stem, int side) {
    return side == DEFAULT_THUMB_SIDE ? stem : stem + sizeSuffix(side, side);
}

std::string slideKey(const std::string& stem, int width, int height) {
    if (width == DEFAULT_SLIDE_WIDTH && height == DEFAULT_SLIDE_HEIGHT)
        return stem;
    return stem + sizeSuffix(width, height);
}

std::string fileStamp(const std::string& path) {
    return Poco::DateTimeFormatter::format(Poco::File(path).getLastModified(),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::string fileStamp(std::time_t modified) {
    return Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(modified),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::mutex& renderLock(const std::string& path, const std::string& key) {
    static std::mutex stripes[64];
    return stripes[std::hash<std::string>()(path + '\n' + key) % 64];
}

bool isGalleryPicture(const std::string& name) {
    const std::string type = Util::HTTP::getHTTPContentType(name);
    return type == "image/jpeg" || type == "image/png" || type == "image/raw";
}

const std::vector<std::string>& decodedTypes() {
    static const std::vector<std::string> types = {"image/jpeg", "image/png"};
    return types;
}

std::string renderPicture(const std::string& path, int width, int height) {
    Data::Image image(path, 0);
    image.setAllowedTypes(decodedTypes());
    std::string raw;
    image.resizeImage(width, height);
    image.saveToRawData(0, raw);
    return raw;
}

bool isKnownFailure(const std::string& path, const std::string& stamp) {
    Failures& all = failures();
    std::lock_guard<std::mutex> lock(all.mutex);
    auto it = all.stamps.find(path);
    return it != all.stamps.end() && it->second == stamp;
}

void rememberFailure(const std::string& path, const std::string& stamp) {
    try {
        if (::access(path.c_str(), R_OK) != 0 || fileStamp(path) != stamp)
            return;
    } catch (const Poco::Exception&) {
        return;
    }
    Failures& all = failures();
    std::lock_guard<std::mutex> lock(all.mutex);
    if (all.stamps.count(path) == 0) {
        all.order.push_back(path);
        if (all.order.size() > MAX_FAILURES) {
            all.stamps.erase(all.order.front());
            all.order.pop_front();
        }
    }
    all.stamps[path] = stamp;
}

CacheActivity::Task::Task(CacheActivity* owner, Callback method)
    : Poco::Activity<CacheActivity>(owner, method), ended(Poco::Event::EVENT_MANUALRESET) {}

void CacheActivity::Task::run() {
    try {
        Poco::Activity<CacheActivity>::run();
    } catch (...) {
        // The run catches per picture; nothing is left to report here.
    }
    ended.set();
}

CacheActivity::CacheActivity(PathList paths, int shareId, int thumbSize, int viewWidth,
                             int viewHeight)
    : m_paths(paths ? paths : PathList(new std::vector<std::string>())),
      m_shareId(shareId),
      m_thumbSize(thumbSize),
      m_viewWidth(viewWidth),
      m_viewHeight(viewHeight),
      m_activity(this, &CacheActivity::run) {}

CacheActivity::~CacheActivity() {
    stop();
    waitUntilEnded();
}

Poco::Activity<CacheActivity>& CacheActivity::activity() {
    return m_activity;
}

void CacheActivity::start() {
    if (m_started)
        return;
    m_activity.ended.reset();
    m_activity.start(Poco::ThreadPool::defaultPool());
    m_started = true;
}

void CacheActivity::stop() {
    m_activity.stop();
}

bool CacheActivity::isRunning() {
    return m_started && !m_activity.ended.tryWait(0);
}

bool CacheActivity::waitUntilEnded(long ms) {
    return !m_started || m_activity.ended.tryWait(ms);
}

void CacheActivity::waitUntilEnded() {
    if (m_started)
        m_activity.ended.wait();
}

// Decoding a JPEG keeps one core busy whatever libvips' own thread count,
// so the pictures are shared out among one worker per core.
void CacheActivity::run() {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < workerCount(); ++i) {
        try {
            helpers.emplace_back([this, &next] { work(next); });
        } catch (const std::system_error&) {
            break;  // Fewer workers only make the run slower.
        }
    }
    work(next);
    for (std::thread& helper : helpers)
        helper.join();
}

void CacheActivity::work(std::atomic<std::size_t>& next) {
    while (!m_activity.isStopped()) {
        const std::size_t index = next.fetch_add(1);
        if (index >= m_paths->size())
            break;
        cacheImage((*m_paths)[index], m_shareId);
    }
}

void CacheActivity::cacheImage(const std::string& path, int shareId) {
    boost::shared_ptr<Data::Message> progress = progressMessage(path, shareId);
    try {
        Poco::File file(path);
        if (file.exists() && !file.isDirectory()) {
            renderBoth(path);
            sendCachedImage(progress);
            return;
        }
        (*progress)[SECTION]["IMAGESIZE"] = 0L;
        sendCachedImage(progress);
        return;
    } catch (const Poco::Exception&) {
        log().trace(":E: Poco exception while caching image-" + path);
    } catch (const std::exception&) {
        log().trace(":E: Std exception while caching image-" + path);
    } catch (...) {
        log().trace(":E: Unknown exception while caching image-" + path);
    }
    (*progress)[SECTION]["IMAGESIZE"] = 0L;
    sendCachedImage(progress);
}

void CacheActivity::renderBoth(const std::string& path) {
    const std::string stamp = fileStamp(path);
    std::string stem, folder;
    Util::splitFolder(path, stem, folder);
    const std::string thumb = thumbKey(stem, m_thumbSize);
    const std::string slide = slideKey(stem, m_viewWidth, m_viewHeight);
    boost::shared_ptr<System::OrvaneCacheDB> db = System::LocalCacheDBHolder::GetCacheDB(folder);
    if (!db)
        throw Orvane::Exception("Cannot Find CacheDB");
    if (isKnownFailure(path, stamp))
        throw Orvane::Exception("The picture " + path + " could not be decoded before");
    // Decoding errors are the picture's; the cache's own are not noted.
    auto decode = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (const Orvane::Exception&) {
            rememberFailure(path, stamp);
            throw;
        }
    };
    Data::Image slideImage(path, 0);
    slideImage.setAllowedTypes(decodedTypes());
    bool haveSlide = false;
    {
        std::lock_guard<std::mutex> lock(renderLock(path, slide));
        if (!db->isSlidePresent(slide, stamp)) {
            decode([&] { slideImage.resizeImage(m_viewWidth, m_viewHeight); });
            haveSlide = true;
            std::string raw;
            slideImage.saveToRawData(0, raw);
            db->deleteSlideImage(slide);
            db->addSlideImage(slide, raw, stamp);
        }
    }
    std::lock_guard<std::mutex> lock(renderLock(path, thumb));
    if (db->isThumbPresent(thumb, stamp))
        return;
    std::string raw;
    // A square no wider than the slide box's narrower side fits wherever
    // the slide did, so the slide holds every pixel the thumbnail needs.
    if (haveSlide && m_thumbSize <= std::min(m_viewWidth, m_viewHeight)) {
        Data::Image thumbImage(path, 0);
        thumbImage.resizeFrom(slideImage, m_thumbSize, m_thumbSize);
        thumbImage.saveToRawData(0, raw);
    } else {
        decode([&] { raw = renderPicture(path, m_thumbSize, m_thumbSize); });
    }
    db->deleteThumbImage(thumb);
    db->addThumbImage(thumb, raw, stamp);
}

// Queued, not handed over on this thread: the plug-in's handlers run one at
// a time, and the one that stops this run waits for it, so a report that
// had to be delivered first would never arrive.
void CacheActivity::sendCachedImage(boost::shared_ptr<Data::Message>& msg) {
    msg->setAuthKey(Data::AuthKey(100, 100, 100, ""));
    try {
        Orvane::DeferredDispatcher()->postMessage(msg);
    } catch (...) {
        // A bus that is going down loses only a progress count.
    }
}

boost::shared_ptr<Data::Message> CacheActivity::progressMessage(const std::string& path,
                                                                int shareId) const {
    boost::shared_ptr<Data::Message> msg =
        Util::MessageUtil::createNewMessage("dapplinepro", "imageprecache");
    msg->sender = "dapplinepro";
    Data::VariantRow& row = (*msg)[SECTION];
    row["IMAGEPATH"] = path;
    row["SHAREID"] = shareId;
    row["THUMBSIZE"] = m_thumbSize;
    row["VIEWSIZEWIDTH"] = m_viewWidth;
    row["VIEWSIZEHEIGHT"] = m_viewHeight;
    return msg;
}

}  // namespace Cache
}  // namespace Orvane
