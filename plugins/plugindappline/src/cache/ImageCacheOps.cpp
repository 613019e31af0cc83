// The owner's image cache operations (start, cancel, progress, clear), the
// progress count of the background run, and the four picture and media
// requests passed on to the host's user manager after the guest check.
// The run and its counters are only touched with m_stateMutex held. A cancel
// takes the run out under it and waits for the end outside it
// (stopCacheActivity), so that the run's progress reports are not held up.
#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Path.h>

#include <exception>

#include "cache/CacheActivity.h"
#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;

typedef Cache::CacheActivity::PathList PathList;

// A run that is not running any more ends at once; this only covers a
// pool thread that is slow to let go.
const long REPLACE_WAIT_MS = 30000;
const char* const NO_IMAGES = "<images></images>";

Poco::Logger& log() {
    return Poco::Logger::get("Dapplinepro");
}

bool isHidden(const std::string& name) {
    return !name.empty() && name[0] == '.';
}

// Depth first, in directory order. Links to folders are not followed (a link
// to a parent would never end), and an entry that cannot be read is left out.
void recursiveListFolder(int shareId, const std::string& folder, PathList out) {
    if (Poco::Path(folder).depth() == 0)
        return;
    for (Poco::DirectoryIterator it(folder), end; it != end; ++it) {
        if (isHidden(it.name()))
            continue;
        try {
            if (it->isDirectory()) {
                if (!it->isLink())
                    recursiveListFolder(shareId, it.path().toString(), out);
            } else if (it->isFile() && Cache::isGalleryPicture(it.name())) {
                out->push_back(it.path().toString());
            }
        } catch (const Poco::Exception&) {
            // A dangling link or an entry gone meanwhile.
        }
    }
}

std::string imageListXML(const std::vector<std::string>& paths) {
    std::string xml = "<images>";
    for (const std::string& path : paths)
        xml += "<image>" + Util::xmlEscape(path) + "</image>";
    return xml + "</images>";
}

// Passes a visitor's picture or media request on to the host's user manager
// when the visitor may read the named path; a refusal is not answered here.
void forwardToUserManager(DapplinePlugin& plugin, MessagePtr& msg, const char* parameter) {
    std::string value;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        value = form.get(parameter);
    } catch (const Poco::Exception&) {
        log().debug(msg->operation + ": no " + parameter + " given");
        return;
    }
    plugin.passToUserManager(msg, value, false);
}

}  // namespace

void DapplinePlugin::onStartCaching(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    Poco::Mutex::ScopedLock lock(m_stateMutex);
    m_cacheTotal = 0;
    m_cacheCompleted = 0;
    if (m_cacheActivity && m_cacheActivity->isRunning()) {
        sendSyncResponse(msg, "");
        return;
    }
    if (m_cacheActivity) {
        m_cacheActivity->stop();
        if (!m_cacheActivity->waitUntilEnded(REPLACE_WAIT_MS)) {
            log().error(std::string("onStartCaching") +
                        " - Unable to stop cache activity Exception");
            sendSyncResponse(msg, "");
            return;
        }
        m_cacheActivity.reset();
    }
    std::string answer = NO_IMAGES;
    bool started = false;
    try {
        Poco::Net::HTMLForm form;
        loadQueryForm(msg, form);
        DapplinePtr share = m_db->getShareByName(form.get("sharename"));
        const std::string location =
            share ? Util::convertPathToNative(share->shareLocation) : std::string();
        Poco::File folder(location);
        if (share && !location.empty() && folder.exists() && folder.isDirectory()) {
            PathList paths(new std::vector<std::string>());
            recursiveListFolder(share->shareId, location, paths);
            m_cacheActivity.reset(new Cache::CacheActivity(
                paths, share->shareId, getThumbSizePx(share->thumbSize),
                getViewSizeWidthPx(share->viewSize), getViewSizeHeightPx(share->viewSize)));
            m_cacheTotal = static_cast<int>(paths->size());
            m_cacheCompleted = 0;
            m_cacheActivity->start();
            started = true;
            answer = imageListXML(*paths);
        }
    } catch (const Poco::Exception& e) {
        log().error(std::string("onStartCaching") + " - Caught unhandled Poco exception [" +
                    e.message() + "]");
        answer = NO_IMAGES;
    } catch (const std::exception& e) {
        log().error(std::string("onStartCaching") + " - " + e.what());
        answer = NO_IMAGES;
    }
    if (!started && m_cacheActivity) {
        // Built but never started (no pool thread free): nothing will count.
        m_cacheActivity.reset();
        m_cacheTotal = 0;
    }
    sendSyncResponse(msg, answer);
}

// The owner's cancel and the host's cancel of a sync both end the run; neither
// is answered.
void DapplinePlugin::onCancelCaching(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    log().information("Canceling caching activity");
    stopCacheActivity();
}

void DapplinePlugin::onCancelSync(const void* sender, MessagePtr& msg) {
    onCancelCaching(sender, msg);
}

// Only the run's own reports count: they come from inside the host, which a
// web request never does, so a visitor cannot move the owner's progress.
void DapplinePlugin::onImagePreCache(const void*, MessagePtr& msg) {
    if (msg->authLocation != Data::AuthKey::LOCATION_HOST)
        return;
    Poco::Mutex::ScopedLock lock(m_stateMutex);
    ++m_cacheCompleted;
}

void DapplinePlugin::onGetCachingStatus(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    int total = 0;
    int completed = 0;
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        total = m_cacheTotal;
        completed = m_cacheCompleted;
    }
    sendSyncResponse(msg, "<status><cachestatus><total>" + std::to_string(total) +
                              "</total><completed>" + std::to_string(completed) +
                              "</completed></cachestatus></status>");
}

// The cache is the host's and is shared with its own pages; the owner's
// clear only confirms.
void DapplinePlugin::onClearCache(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    sendSyncResponse(msg, Util::HTTP::getXMLResult("clearcache", true, ""));
}

void DapplinePlugin::onGetFSThumbImage(const void*, MessagePtr& msg) {
    forwardToUserManager(*this, msg, "name");
}

void DapplinePlugin::onGetFolderJpg(const void*, MessagePtr& msg) {
    forwardToUserManager(*this, msg, "path");
}

void DapplinePlugin::onGetVideoCaps(const void*, MessagePtr& msg) {
    forwardToUserManager(*this, msg, "name");
}

void DapplinePlugin::onGetMetaDataInfo(const void*, MessagePtr& msg) {
    forwardToUserManager(*this, msg, "name");
}

}  // namespace Dappline
}  // namespace Orvane
