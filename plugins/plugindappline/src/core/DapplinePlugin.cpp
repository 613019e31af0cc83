// Construction with the operation table, the lifecycle the host drives
// (init, startup, shutdown), the periodic timer and the one-time move of the
// legacy plug-in users into the host's guest users.
#include "core/DapplinePlugin.h"
#include "transfers/ZipJournal.h"

#include <Poco/Bugcheck.h>
#include <Poco/Delegate.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/NumberParser.h>

#include <algorithm>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "cache/CacheActivity.h"
#include "core/DapplineUser.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Exception.h"
#include "orvane/GuestUser.h"
#include "orvane/MessageDelegate.h"
#include "orvane/MessageUtil.h"
#include "orvane/PoManager.h"
#include "orvane/ProfileManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"
#include "transfers/CompressFolderActivity.h"

namespace Orvane {
namespace Dappline {

namespace {

typedef void (DapplinePlugin::*Handler)(const void*, MessagePtr&);

struct Operation {
    const char* name;
    Handler handler;
};

const char* const TIMER_TAG = "DAPPLINEPRO_TIMER";
const long TIMER_INTERVAL_MS = 60000;
const int TIMER_REPEAT_FOREVER = -1;
const long CACHE_STOP_WAIT_MS = 5000;
// Room beside the capped jobs for threads that are still winding down.
const int ZIP_POOL_THREADS = 2 * CompressFolderActivity::MAX_JOBS;
const int ZIP_POOL_IDLE_SECONDS = 60;
// History kept by default: a year, and a million rows.
const std::int64_t HISTORY_MAX_ROWS = 1000000;
const std::int64_t HISTORY_MAX_DAYS = 365;
// Beyond this many days (a thousand years) a limit changes nothing.
const std::int64_t HISTORY_DAYS_CAP = 365000;

Poco::Logger& log() {
    return Poco::Logger::get("Dapplinepro");
}

// Creates the folder with its parents; false when it is still not there.
bool ensureDirectory(const std::string& path) {
    try {
        Poco::File dir(path);
        if (!dir.exists())
            dir.createDirectories();
        return dir.exists() && dir.isDirectory();
    } catch (const Poco::Exception&) {
        return false;
    }
}

// A whole number of host.properties; the default when it is absent or is not
// one (logged), so that a typo cannot empty the history.
std::int64_t propertyNumber(const std::string& key, std::int64_t fallback) {
    const std::string text = Util::trim(API::ProfileManager::getProperty(key));
    std::int64_t value = fallback;
    if (!text.empty() && !Poco::NumberParser::tryParse64(text, value)) {
        log().warning("host.properties: " + key + " is not a number: " + text);
        return fallback;
    }
    return value < 0 ? fallback : value;
}

// Legacy user ids are positive; during the move every row is parked on an id
// no real or anonymous user has, so that one user's new id can never
// coincide with another user's old id still waiting to be rewritten.
int parkingId(int legacyId) {
    return -1000000 - legacyId;
}

struct UserMove {
    int legacyId;
    int guestId;
};

// Finds or creates the host guest user for each legacy user (refreshing the
// password of an existing one).
std::vector<UserMove> mapLegacyUsers(const std::list<DapplineUserPtr>& users,
                                     Data::GuestUserManager& guests) {
    std::vector<UserMove> moves;
    for (const DapplineUserPtr& user : users) {
        int guestId = guests.getGuestUserId(user->userName);
        if (guestId < 1) {
            Data::GuestUser created(user->userName, user->password);
            if (!guests.guestUserAdd(created) || created.getId() < 1) {
                throw Orvane::Exception("could not create guest user " + user->userName);
            }
            guestId = created.getId();
        } else {
            guests.guestUserUpdate(Data::GuestUser(guestId, user->userName, user->password));
        }
        moves.push_back(UserMove{user->id, guestId});
    }
    return moves;
}

// The page style sheet; empty when the archive or the file cannot be read.
std::string readStyleSheet(Util::VirtualFS& vfs) {
    try {
        std::string sheet;
        std::size_t size = 0;
        vfs.readFile("dapplinepro.css", sheet, size);
        return sheet;
    } catch (const Poco::Exception& e) {
        log().error(e.displayText());
    } catch (...) {
        log().error("Unknown Exception loading CSS");
    }
    return std::string();
}

void rewriteUserIds(DapplineDB& db, const std::vector<UserMove>& moves) {
    for (const UserMove& move : moves)
        db.updateUserIdsFromCore(move.legacyId, parkingId(move.legacyId));
    for (const UserMove& move : moves)
        db.updateUserIdsFromCore(parkingId(move.legacyId), move.guestId);
}

}  // namespace

DapplinePlugin::DapplinePlugin()
    : m_name("dapplinepro"),
      m_db(new DapplineDB()),
      m_vfs(new Util::VirtualFS()),
      m_zipPool(1, ZIP_POOL_THREADS, ZIP_POOL_IDLE_SECONDS),
      m_attemptsTracker(5, 60, 600),
      m_guestUserManager(new Data::GuestUserManager()) {
    registerOperations();
}

// The one place that lists every operation the plug-in answers by name.
void DapplinePlugin::registerOperations() {
    typedef DapplinePlugin P;
    static const Operation operations[] = {
        {"getshares", &P::onGetShares},
        {"getsharesfilter", &P::onGetSharesForFilter},
        {"getusersforshare", &P::onGetUsersForShare},
        {"getaddusersforshare", &P::onGetAddUsersForShare},
        {"getuseraccessforshare", &P::onGetUserAccessForShare},
        {"setuseraccessforshare", &P::onSetUserAccessForShare},
        {"addshare", &P::onAddShare},
        {"updateshare", &P::onUpdateShare},
        {"deleteshare", &P::onDeleteShare},
        {"addusertoshare", &P::onAddUserToShare},
        {"deleteuserfromshare", &P::onDeleteUserFromShare},
        {"gethistory", &P::onGetHistory},
        {"clearhistory", &P::onClearHistory},
        {"clearcache", &P::onClearCache},
        {"getstatus", &P::onGetStatus},
        {"sendsharetoemail", &P::onSendShareToEmail},
        {"geturlforemail", &P::onGetURLForEmail},
        {"showgs", &P::onShowGS},
        {"setshowgs", &P::onSetShowGS},
        {"getcustomheader", &P::onGetCustomHeader},
        {"setcustomheader", &P::onSetCustomHeader},
        {"startcaching", &P::onStartCaching},
        {"cancelcaching", &P::onCancelCaching},
        {"imageprecache", &P::onImagePreCache},
        {"getcachestatus", &P::onGetCachingStatus},
        {"getsharedfoldersize", &P::onGetSharedFolderSize},
        {"getprivateurlforemail", &P::onGetPrivateURLForEmail},
        {"getdownloadlist", &P::getCurrentlyDownloadedFiles},
        {"setallowpublicaccess", &P::onSetAllowPublicAccess},
        {"quickshare", &P::onQuickShare},
        {Defs::Sync::MO_SEND_FILE_COMPLETE, &P::onSendFileComplete},
        {Defs::Sync::MO_CANCEL_SYNC, &P::onCancelSync},
        {"START_UPLOAD", &P::onStartUpload},
        {"FINISH_UPLOAD", &P::onFinishUpload},
        {Defs::Timer::MO_TIMER, &P::onTimer},
        {"START_WEBDAV_REQ", &P::onStartWebDAVReq},
        {"getguestshares", &P::onGetGuestShares},
        {"getfilelist", &P::onGetFileList},
        {"getdirectorylist", &P::onGetDirectoryList},
        {"getfsthumbimage", &P::onGetFSThumbImage},
        {"getfsslideimage", &P::onGetFSThumbImage},
        {"getfolder.jpg", &P::onGetFolderJpg},
        {"GETFILE", &P::onGetFile},
        {"downloadfile", &P::onDownloadFile},
        {"START_GUEST_UPLOAD", &P::onStartGuestUpload},
        {"createfolder", &P::onCreateFolder},
        {"renamefile", &P::onRenameFile},
        {"deletefile", &P::onDeleteFile},
        {"copyfile", &P::onCopyFile},
        {"renameormove", &P::onRenameOrMove},
        {"startzip", &P::onStartZip},
        {"getvideocaps", &P::onGetVideoCaps},
        {"getmetadatainfo", &P::onGetMetaDataInfo},
        {"splitfilepaths", &P::onSplitFilePaths},
        {"fileexists", &P::onFileExists},
    };
    for (const Operation& op : operations) {
        m_opProcessor.registerOperation(op.name, Op(this, op.handler));
    }
}

// The host calls shutdown first; this only releases what a failed or
// skipped shutdown left behind.
DapplinePlugin::~DapplinePlugin() {
    delete m_guestUserManager;
}

bool DapplinePlugin::init(const std::string& pluginDir) {
    m_pluginDir = pluginDir;
    // File names are appended to the folder directly.
    if (!m_pluginDir.empty() && m_pluginDir.back() != '/')
        m_pluginDir += '/';
    m_thumbSizeSmallPx = 64;
    m_thumbSizeMediumPx = 128;
    m_thumbSizeLargePx = 256;
    m_viewWidthPx = 800;
    m_viewHeightPx = 600;
    m_viewWidthLargePx = 1024;
    m_viewHeightLargePx = 768;
    return true;
}

const std::string& DapplinePlugin::name() const {
    return m_name;
}

bool DapplinePlugin::startup(System::MessageDispatcher* dispatcher) {
    poco_check_ptr(dispatcher);
    m_dispatcher = dispatcher;

    // Without a profile the folder would land below the file-system root.
    const std::string profileRoot = API::ProfileManager::getProfileRootDir();
    const std::string dataDir = profileRoot + "/" + Defs::Defaults::PLUGINDATADIR + "/" + m_name;
    if (profileRoot.empty() || !ensureDirectory(dataDir)) {
        log().error("Failed creating dappline data directory!");
        return false;
    }

    std::string securityToken;
    API::ProfileManager::getSecurityToken(m_name, securityToken);
    m_db->openDB(dataDir + "/dapplinepro.db", "");
    // Zips a killed host left in shared folders go before any new one starts.
    ZipJournal::recover(dataDir + "/zips.journal");

    boost::shared_ptr<System::MessageEventInfo> events(new System::MessageEventInfo());
    // Deliveries may run side by side on the deferred workers; the plug-in's
    // shared state is guarded by m_stateMutex, so no lock is needed here.
    events->event += System::messageDelegate(this, &DapplinePlugin::onMessage);
    const bool registered = m_dispatcher->registerService(m_name, events);
    poco_assert_msg(registered, "registerService refused the plug-in's message event");

    if (m_vfs->getArchive().empty())
        m_vfs->setArchive(m_pluginDir + "resource.zip");
    m_css = readStyleSheet(*m_vfs);

    post(Util::MessageUtil::createNewTimerStartMessage(m_name, TIMER_TAG, TIMER_INTERVAL_MS,
                                                       TIMER_REPEAT_FOREVER));
    if (!Orvane::PoManager().addPoVfs(m_pluginDir + "translations.zip", m_name)) {
        Poco::Logger::root().error("Failed to load Dappline translations");
    }
    migrateUsers();
    return true;
}

bool DapplinePlugin::shutdown() {
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        m_downloads.clear();
    }
    stopZipActivities();
    ZipJournal::close();
    stopCacheActivity();
    delete m_guestUserManager;
    m_guestUserManager = nullptr;

    post(Util::MessageUtil::createNewTimerStopMessage(m_name, TIMER_TAG));
    if (!Orvane::PoManager().removePoVfs(m_pluginDir + "translations.zip")) {
        Poco::Logger::root().error("Failed to remove Dappline translations");
    }
    const bool unregistered = m_dispatcher != nullptr && m_dispatcher->unregisterService(m_name);
    // After the last delivery has returned: every history row of a clean stop
    // reaches the disk, and no thread runs the plug-in's code any more.
    m_db->stopHistory();
    return unregistered;
}

// Zip jobs run on code that is unloaded after shutdown, so each is told to
// stop and waited for, and its unfinished zip file removed
// (stopZipJobsForShutdown, with the zip downloads). Whatever is left in the
// table afterwards is only dropped.
void DapplinePlugin::stopZipActivities() {
    stopZipJobsForShutdown();
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        m_zipActivities.clear();
    }
    m_zipPool.joinAll();
}

// Ends the image cache run, if there is one: a cancel, and shutdown, since a
// run must not outlive the plug-in's code. After the usual 5000 ms an
// overrunning run is logged and waited for until it ends, then released. The
// wait runs without m_stateMutex so that the run's own progress reports are
// not held up behind it.
void DapplinePlugin::stopCacheActivity() {
    std::unique_ptr<Cache::CacheActivity> activity;
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        activity.swap(m_cacheActivity);
    }
    if (!activity)
        return;
    activity->stop();
    if (!activity->waitUntilEnded(CACHE_STOP_WAIT_MS)) {
        log().error("the image cache run did not stop within 5000 ms; waiting for it");
        activity->waitUntilEnded();
    }
}

// The prune comes first: an abandon that fails ends the tick.
void DapplinePlugin::onTimer(const void*, MessagePtr& msg) {
    if (!passOwnerGate(msg))
        return;
    pruneHistory();
    abandonIdleZipJobs();
}

void DapplinePlugin::pruneHistory() {
    const std::int64_t days = propertyNumber("history.max.days", HISTORY_MAX_DAYS);
    const std::int64_t removed =
        m_db->pruneHistory(propertyNumber("history.max.rows", HISTORY_MAX_ROWS),
                           static_cast<int>(std::min<std::int64_t>(days, HISTORY_DAYS_CAP)));
    if (removed > 0)
        log().information("Removed " + std::to_string(removed) + " old history rows");
}

void DapplinePlugin::migrateUsers() {
    if (!m_db->userTableFound)
        return;
    try {
        std::list<DapplineUserPtr> users;
        m_db->userCollectionGet(users);
        if (m_guestUserManager == nullptr)
            throw Orvane::Exception("no guest user store");
        rewriteUserIds(*m_db, mapLegacyUsers(users, *m_guestUserManager));
        m_db->dropUserTable();
    } catch (const Poco::Exception& e) {
        log().error("migrateUsers" + std::string("Poco Exception caught : ") + e.message());
    } catch (const Orvane::Exception& e) {
        log().error("migrateUsers" + std::string("Orvane Exception caught : ") + e.message());
    } catch (...) {
        log().error("migrateUsers" + std::string("Unknown Exception caught : "));
    }
}

int DapplinePlugin::getThumbSizePx(int sizeType) const {
    if (sizeType == 0)
        return m_thumbSizeSmallPx;
    if (sizeType == 2)
        return m_thumbSizeLargePx;
    return m_thumbSizeMediumPx;
}

int DapplinePlugin::getViewSizeWidthPx(int sizeType) const {
    return sizeType == 1 ? m_viewWidthLargePx : m_viewWidthPx;
}

int DapplinePlugin::getViewSizeHeightPx(int sizeType) const {
    return sizeType == 1 ? m_viewHeightLargePx : m_viewHeightPx;
}

std::size_t DapplinePlugin::downloadCount() {
    Poco::Mutex::ScopedLock lock(m_stateMutex);
    return m_downloads.size();
}

std::size_t DapplinePlugin::zipJobCount() {
    Poco::Mutex::ScopedLock lock(m_stateMutex);
    return m_zipActivities.size();
}

}  // namespace Dappline
}  // namespace Orvane
