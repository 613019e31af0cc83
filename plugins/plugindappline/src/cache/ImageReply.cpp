// The gallery's pictures: a thumbnail or slide of one shared file, from the
// folder's image cache, rendered and stored again when the file changed.
// Runs on the deferred workers, next to the background run, which writes the
// same cache entries; the cache keeps its own lock. A gallery page asks for
// one picture per file at once, so a cached picture costs one stat and one
// SQLite read, and its bytes go from the database straight into the reply.
#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/NumberParser.h>
#include <sys/stat.h>

#include "cache/CacheActivity.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/CacheDB.h"
#include "orvane/Defs.h"
#include "orvane/Exception.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "orvane/MessageUtil.h"
#include "orvane/PoManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"
#include "store/DapplineHistory.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;
typedef boost::shared_ptr<System::OrvaneCacheDB> CacheDBPtr;

const char* const PICTURE_CACHE_CONTROL = "max-age=1800";

Poco::Logger& log() {
    return Poco::Logger::get("Dapplinepro");
}

// A size index from the query; text that is not a number counts as 0.
int sizeIndex(const Poco::Net::NameValueCollection& query, const std::string& name) {
    int value = 0;
    if (!Poco::NumberParser::tryParse(query.get(name, ""), value))
        return 0;
    return value;
}

// A page can be shown without the picture being stored (a full disk, a
// locked file); the visitor still gets it.
void store(bool slide, System::OrvaneCacheDB& db, const std::string& key, const std::string& data,
           const std::string& stamp) {
    try {
        if (slide) {
            db.deleteSlideImage(key);
            db.addSlideImage(key, data, stamp);
        } else {
            db.deleteThumbImage(key);
            db.addThumbImage(key, data, stamp);
        }
    } catch (const Orvane::Exception& e) {
        log().error("Could not store a picture in the image cache: " + e.message());
    }
}

// Fills the reply's body with the picture: from the cache when it holds one
// with the file's stamp, else rendered now and stored.
void cachedOrRendered(bool slide, System::OrvaneCacheDB& db, const std::string& path,
                      const std::string& key, const std::string& stamp, int width, int height,
                      Data::Message& reply) {
    const System::OrvaneCacheDB::PictureSink into =
        [&reply](const char* bytes, std::size_t length) { reply.setRawData(bytes, length); };
    auto cached = [&] {
        return slide ? db.readCurrentSlide(key, stamp, into)
                     : db.readCurrentThumb(key, stamp, into);
    };
    if (cached())
        return;
    // Someone else may be rendering it right now: wait, then look again.
    std::lock_guard<std::mutex> lock(Cache::renderLock(path, key));
    if (cached())
        return;
    // A picture that failed is not decoded again on every request for it.
    if (Cache::isKnownFailure(path, stamp))
        throw Orvane::Exception("The picture " + path + " could not be decoded before");
    std::string data;
    try {
        data = Cache::renderPicture(path, width, height);
    } catch (const Orvane::Exception&) {
        Cache::rememberFailure(path, stamp);
        throw;
    }
    store(slide, db, key, data, stamp);
    reply.setRawData(data);
}

void addSlideHistory(DapplineDB& db, int shareId, const std::string& path, int userId,
                     std::int64_t size) {
    boost::shared_ptr<Data::GuestUser> user = userId == -1
                                                  ? boost::shared_ptr<Data::GuestUser>()
                                                  : API::GuestUserManager::guestUserGet(userId);
    DapplineHistory entry(shareId, path, size, DapplineHistory::now(), user ? userId : -1,
                          user ? user->getName() : PoManager().getTranslation("Anonymous"));
    db.addHistory(entry);
}

}  // namespace

// The sizes are read from the query itself ("thumbsize" wins over
// "viewsize"), so that the picture always matches its address whatever the
// caller parsed; thumbSize and viewSize are not needed for that.
void DapplinePlugin::sendImageReply(MessagePtr& msg, const std::string& path,
                                    const Poco::Net::NameValueCollection& query, int shareId,
                                    int thumbSize, int viewSize, int userId) {
    // Only the gallery's own kinds of picture are shown to a visitor; and
    // devices and pipes would block the decoder for good (a link counts as
    // what it leads to). The share's handler has already judged the path
    // itself (within the share, not a refused place, not hidden).
    struct stat st;
    if (!Cache::isGalleryPicture(path) || path.find('\0') != std::string::npos ||
        ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        throw Poco::FileAccessDeniedException("Not a picture file", path);
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    MessagePtr reply = syncAnswer(msg);
    reply->sender = m_name;
    const bool slide = !query.has("thumbsize");
    try {
        CacheDBPtr db = System::LocalCacheDBHolder::GetCacheDB(folder);
        if (!db)
            throw Orvane::Exception("Cannot Find CacheDB");
        const std::string stamp = Cache::fileStamp(st.st_mtime);
        if (!slide) {
            const int side = getThumbSizePx(sizeIndex(query, "thumbsize"));
            cachedOrRendered(false, *db, path, Cache::thumbKey(name, side), stamp, side, side,
                             *reply);
        } else {
            const int index = sizeIndex(query, "viewsize");
            const int width = getViewSizeWidthPx(index);
            const int height = getViewSizeHeightPx(index);
            cachedOrRendered(true, *db, path, Cache::slideKey(name, width, height), stamp, width,
                             height, *reply);
        }
    } catch (const Orvane::Exception& e) {
        // Reported to the share page's handler in the library's own family.
        throw Poco::Exception(e.message(), path);
    }
    Util::MessageUtil::addHTTPResponse(reply, 200, "image/jpeg");
    (*reply)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_SET_CACHE_CONTROL] = PICTURE_CACHE_CONTROL;
    post(reply);
    // A slide is what a visitor looks at, so it counts as a download; a HEAD
    // fetches nothing.
    if (slide && requestField(msg, HTTP::S_HTTP_REQ_METHOD) != "HEAD") {
        const auto& raw = reply->getRawData();
        addSlideHistory(*m_db, shareId, path, userId,
                        raw ? static_cast<std::int64_t>(raw->getTotalBytes()) : 0);
    }
}

}  // namespace Dappline
}  // namespace Orvane
