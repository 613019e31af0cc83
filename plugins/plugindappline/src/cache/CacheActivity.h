// The background run that renders a share's pictures into the host's image
// cache, a thumbnail and a slide each, and reports every picture done to the
// plug-in through the host's bus ("imageprecache"). It runs on a thread of
// Poco's default pool, which takes one helper thread per further core (up to
// four in all) and joins them before it ends; the workers share only an
// atomic position in the list. Start, stop and the waits may come from any
// thread, and stopping takes effect between two pictures of each worker.
#pragma once

#include <Poco/Activity.h>
#include <Poco/Event.h>
#include <atomic>
#include <boost/shared_ptr.hpp>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "orvane/Message.h"

namespace Orvane {
namespace Cache {

// Cache keys: the file name, with the size appended unless it is the default
// (thumbnail 128, slide 800 x 600).
std::string thumbKey(const std::string& stem, int side);
std::string slideKey(const std::string& stem, int width, int height);
// The file's modification time, UTC, in Poco's sortable form.
std::string fileStamp(const std::string& path);
// The same from a modification time already at hand (a stat's st_mtime).
std::string fileStamp(std::time_t modified);
// The gallery's pictures, by name: JPEG, PNG and camera raw files.
bool isGalleryPicture(const std::string& name);
// The content types decoded for the gallery, judged by the file's content;
// camera raw has no loader that is safe for visitors' files.
const std::vector<std::string>& decodedTypes();
// The picture as JPEG, fitted inside width x height; throws when it cannot
// be rendered (also for a content of another type than decodedTypes()).
std::string renderPicture(const std::string& path, int width, int height);
// A picture that could not be decoded is remembered for its stamp (its file
// time), so that neither visitors nor the background run decode it again
// until the file changes. rememberFailure notes nothing for a file that
// cannot be read or that changed meanwhile: that is no fault of its content.
// The memory is the process's, of the latest few thousand failures; any
// thread.
bool isKnownFailure(const std::string& path, const std::string& stamp);
void rememberFailure(const std::string& path, const std::string& stamp);
// Held from looking in the cache to storing there, so that page requests
// and the background run never decode the same picture and size twice at
// once. Striped: two keys may share a lock, never one key two locks.
std::mutex& renderLock(const std::string& path, const std::string& key);

class CacheActivity {
public:
    typedef boost::shared_ptr<std::vector<std::string>> PathList;

    CacheActivity(PathList paths, int shareId, int thumbSize, int viewWidth, int viewHeight);
    // Stops the run and waits until it has ended.
    ~CacheActivity();
    CacheActivity(const CacheActivity&) = delete;
    CacheActivity& operator=(const CacheActivity&) = delete;

    // The thread-pool task; start it with start(), not through this.
    Poco::Activity<CacheActivity>& activity();
    // On Poco's default thread pool; throws Poco::NoThreadAvailableException
    // when the pool is full.
    void start();
    void stop();
    // True from start() until the run has ended and let go of this object.
    bool isRunning();
    // Until the run has ended; false when it is still running after ms.
    bool waitUntilEnded(long ms);
    void waitUntilEnded();

    void run();
    void cacheImage(const std::string& path, int shareId);
    void sendCachedImage(boost::shared_ptr<Data::Message>& msg);

private:
    // Poco's Activity reports "not running" a moment before it has finished
    // with itself, so a waiter trusting it could free it too early. This one
    // signals its end as the very last thing the pool thread does with it.
    class Task : public Poco::Activity<CacheActivity> {
    public:
        Task(CacheActivity* owner, Callback method);
        Poco::Event ended;

    protected:
        void run() override;
    };

    boost::shared_ptr<Data::Message> progressMessage(const std::string& path, int shareId) const;
    // Takes pictures from the list until it is done or the run is stopped.
    void work(std::atomic<std::size_t>& next);
    // Both sizes into the folder's cache, each unless already there for
    // the file's current stamp. The slide comes first, so that the
    // thumbnail can be made from it without decoding the file again.
    void renderBoth(const std::string& path);

    PathList m_paths;
    int m_shareId;
    int m_thumbSize;
    int m_viewWidth;
    int m_viewHeight;
    std::atomic<bool> m_started{false};
    Task m_activity;
};

}  // namespace Cache
}  // namespace Orvane
