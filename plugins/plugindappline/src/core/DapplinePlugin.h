// The plug-in's service object. One instance per load; the host drives its
// lifecycle from one thread and delivers messages on its deferred workers,
// several at a time, so every access to m_downloads, m_zipActivities,
// m_cacheActivity and the cache counters holds m_stateMutex.
// The member functions are spread over one source file per area.
#pragma once

#include <Poco/Mutex.h>
#include <Poco/Net/NameValueCollection.h>
#include <Poco/ThreadPool.h>
#include <Poco/UUID.h>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "orvane/AttemptsTracker.h"
#include "orvane/GuestUserManager.h"
#include "orvane/Message.h"
#include "orvane/OpProcessor.h"
#include "orvane/Service.h"
#include "orvane/VirtualFS.h"
#include "transfers/DownloadItem.h"

namespace Orvane {
namespace Cache {
class CacheActivity;
}
namespace Dappline {

class Dappline;
class DapplineDB;
class CompressFolderActivity;

typedef boost::shared_ptr<Data::Message> MessagePtr;

// Splits a share-relative path at its first "/"; rest is untouched when
// there is none.
void splitIntoParts(const std::string& path, std::string& first, std::string& rest);
// Replaces every occurrence in one pass; replaced text is not searched again.
void searchAndReplace(std::string& text, const std::string& find, const std::string& replacement);
std::string getProductName();
std::string getProductWebsite();

class DapplinePlugin : public System::Service {
public:
    DapplinePlugin();
    ~DapplinePlugin() override;

    bool init(const std::string& pluginDir) override;
    const std::string& name() const override;
    bool startup(System::MessageDispatcher* dispatcher) override;
    bool shutdown() override;
    void onMessage(const void* sender, MessagePtr& msg) override;

    int getThumbSizePx(int sizeType) const;
    int getViewSizeWidthPx(int sizeType) const;
    int getViewSizeHeightPx(int sizeType) const;

    // For tests and the host: the database and the state behind the mutex.
    const boost::shared_ptr<DapplineDB>& database() const { return m_db; }
    const std::string& css() const { return m_css; }
    std::size_t downloadCount();
    std::size_t zipJobCount();
    // --- Guest access (GuestAccess.cpp area): true while failed credential
    // checks lock uploads; the tracker keeps its own lock.
    bool areUploadsLocked() { return m_attemptsTracker.isLocked(); }

    // --- Response helpers (Dispatch.cpp)
    void sendSyncResponse(MessagePtr& request, const std::string& body);
    // The page is moved into the answer: a big folder's is megabytes.
    void sendSyncHTTPResponse(MessagePtr& request, std::string body, int status);
    std::string getErrorHTML(const std::string& message);
    std::string getBaseURL() const;
    std::string getShareURL() const;

private:
    typedef Util::OpProcessor<DapplinePlugin>::OpDelegate Op;

    void registerOperations();
    void post(const MessagePtr& msg);
    void serveResource(MessagePtr& msg);
    void sendForceAuthChallenge(MessagePtr& msg);
    // The error page with message that makes the host ask for credentials.
    MessagePtr authChallenge(const MessagePtr& request, const std::string& message);
    // The three owner-gate tests; false after the refusal has been answered.
    bool passOwnerGate(MessagePtr& msg);
    bool passSourceGate(MessagePtr& msg);
    void stopCacheActivity();
    void stopZipActivities();
    // Applies history.max.rows and history.max.days (host.properties).
    void pruneHistory();

public:
    // --- Lifecycle (DapplinePlugin.cpp)
    void onTimer(const void* sender, MessagePtr& msg);
    void migrateUsers();

    // --- Guest access (GuestAccess.cpp)
    int getShareUserID(boost::shared_ptr<Dappline> share, MessagePtr& msg);
    bool doesGuestHaveAccess(MessagePtr& msg, std::string path, bool& writeAccess,
                             std::string& sharePath, bool logDownload,
                             std::int64_t& sizeLimitBytes);
    // doesGuestHaveAccess for callers that need only the yes or no.
    bool mayAccess(MessagePtr& msg, const std::string& path, bool logDownload);
    // When the visitor may read path: marks the request allowed and passes it
    // to the host's user manager, which answers it. Otherwise false, and the
    // request is left unanswered.
    bool passToUserManager(MessagePtr& msg, const std::string& path, bool logDownload);

    // --- Share pages (SharePage.cpp, PageBuilder.cpp)
    void onGetShare(const void* sender, MessagePtr& msg);
    std::string getFileList(const std::string& folder, bool inSubfolder,
                            const std::string& shareName, const std::string& subPath,
                            bool writeAccess, const std::string& guestName, const std::string& am);
    std::string getThumbList(const std::string& folder, bool inSubfolder,
                             const std::string& shareName, const std::string& subPath, int viewSize,
                             int thumbSize, bool writeAccess, const std::string& guestName,
                             const std::string& am);
    std::string getMusicList(const std::string& folder, bool inSubfolder,
                             const std::string& shareName, const std::string& subPath,
                             bool writeAccess, const std::string& guestName, const std::string& am);

    // --- Downloads (Downloads.cpp)
    void sendChunkedFile(MessagePtr& msg, System::MessageDispatcher* dispatcher,
                         const std::string& filePath, const std::string& fileName,
                         std::uint64_t fileSize, int userId, bool deleteWhenSent);
    // sendChunkedFile for a path the caller has just found allowed
    // (Util::isAllowedFile and isAllowedPath, as sendChunkedFile judges it).
    void sendAllowedFile(MessagePtr& msg, System::MessageDispatcher* dispatcher,
                         const std::string& filePath, const std::string& fileName,
                         std::uint64_t fileSize, int userId, bool deleteWhenSent);
    void onGetFile(const void* sender, MessagePtr& msg);
    void onDownloadFile(const void* sender, MessagePtr& msg);
    void onSendFileComplete(const void* sender, MessagePtr& msg);
    void getCurrentlyDownloadedFiles(const void* sender, MessagePtr& msg);

    // --- Zip downloads (ZipDownload.cpp)
    void onStartZip(const void* sender, MessagePtr& msg);
    // The share page's zip steps ("startzip", "zipstatus", "downloadaszip");
    // answers the request. folder is the addressed folder (native form).
    void handleZipStep(MessagePtr& msg, const std::string& step,
                       const Poco::Net::NameValueCollection& query, const std::string& folder,
                       int shareId, int userId);
    // Timer tick: abandons and removes the jobs nobody polled for a minute.
    void abandonIdleZipJobs();
    // Shutdown: tells every job to stop, waits for it and removes unfinished zips.
    void stopZipJobsForShutdown();

    // --- Uploads (Uploads.cpp)
    void onStartUpload(const void* sender, MessagePtr& msg);
    void onFinishUpload(const void* sender, MessagePtr& msg);
    void onStartGuestUpload(const void* sender, MessagePtr& msg);
    void sendSyncHTTPUploadResponse(MessagePtr& request, const std::string& body, bool allow,
                                    const std::string& dirName);
    std::int64_t getSharedFolderSize(std::string folder);

    // --- File operations (FileOperations.cpp)
    void onCreateFolder(const void* sender, MessagePtr& msg);
    void onRenameFile(const void* sender, MessagePtr& msg);
    void onDeleteFile(const void* sender, MessagePtr& msg);
    void onCopyFile(const void* sender, MessagePtr& msg);
    void onRenameOrMove(const void* sender, MessagePtr& msg);
    void onFileExists(const void* sender, MessagePtr& msg);
    void onSplitFilePaths(const void* sender, MessagePtr& msg);

    // --- WebDAV (WebDAV.cpp)
    void onStartWebDAVReq(const void* sender, MessagePtr& msg);
    void sendWebDAVResponse(MessagePtr& request, bool allow, bool allowWrite,
                            const std::string& dirName, const std::string& base,
                            const std::string& destination, const std::string& shareName);

    // --- Share administration (ShareAdmin.cpp)
    void onGetShares(const void* sender, MessagePtr& msg);
    void onGetSharesForFilter(const void* sender, MessagePtr& msg);
    void onGetGuestShares(const void* sender, MessagePtr& msg);
    void onAddShare(const void* sender, MessagePtr& msg);
    void onUpdateShare(const void* sender, MessagePtr& msg);
    void onDeleteShare(const void* sender, MessagePtr& msg);
    void onQuickShare(const void* sender, MessagePtr& msg);

    // --- Share user access (UserAccessAdmin.cpp)
    void onGetUsersForShare(const void* sender, MessagePtr& msg);
    void onGetAddUsersForShare(const void* sender, MessagePtr& msg);
    void onGetUserAccessForShare(const void* sender, MessagePtr& msg);
    void onSetUserAccessForShare(const void* sender, MessagePtr& msg);
    void onAddUserToShare(const void* sender, MessagePtr& msg);
    void onDeleteUserFromShare(const void* sender, MessagePtr& msg);

    // --- History, status and settings (SettingsAdmin.cpp)
    void onGetHistory(const void* sender, MessagePtr& msg);
    void onClearHistory(const void* sender, MessagePtr& msg);
    void onGetStatus(const void* sender, MessagePtr& msg);
    void onGetSharedFolderSize(const void* sender, MessagePtr& msg);
    void onShowGS(const void* sender, MessagePtr& msg);
    void onSetShowGS(const void* sender, MessagePtr& msg);
    void onGetCustomHeader(const void* sender, MessagePtr& msg);
    void onSetCustomHeader(const void* sender, MessagePtr& msg);
    void onSetAllowPublicAccess(const void* sender, MessagePtr& msg);

    // --- E-mailed links (ShareEmail.cpp)
    void onSendShareToEmail(const void* sender, MessagePtr& msg);
    void onGetURLForEmail(const void* sender, MessagePtr& msg);
    void onGetPrivateURLForEmail(const void* sender, MessagePtr& msg);

    // --- Explorer browsing (ExplorerBrowse.cpp)
    void onGetFileList(const void* sender, MessagePtr& msg);
    void onGetDirectoryList(const void* sender, MessagePtr& msg);

    // --- Image cache (ImageCacheOps.cpp, ImageReply.cpp)
    // The share page's picture answer for a file address with "thumbsize" or
    // "viewsize": from the folder's cache, rendered and stored when stale.
    void sendImageReply(MessagePtr& msg, const std::string& path,
                        const Poco::Net::NameValueCollection& query, int shareId, int thumbSize,
                        int viewSize, int userId);
    void onClearCache(const void* sender, MessagePtr& msg);
    void onStartCaching(const void* sender, MessagePtr& msg);
    void onCancelCaching(const void* sender, MessagePtr& msg);
    void onImagePreCache(const void* sender, MessagePtr& msg);
    void onGetCachingStatus(const void* sender, MessagePtr& msg);
    void onCancelSync(const void* sender, MessagePtr& msg);
    void onGetFSThumbImage(const void* sender, MessagePtr& msg);
    void onGetFolderJpg(const void* sender, MessagePtr& msg);
    void onGetVideoCaps(const void* sender, MessagePtr& msg);
    void onGetMetaDataInfo(const void* sender, MessagePtr& msg);

private:
    std::string m_name;
    std::string m_pluginDir;
    boost::shared_ptr<DapplineDB> m_db;
    boost::shared_ptr<Util::VirtualFS> m_vfs;
    std::string m_css;
    std::map<Poco::UUID, DownloadItem> m_downloads;
    // Zip builds run here, apart from the image cache's pool (Poco's
    // default), so that neither can take all the threads of the other.
    // Declared before the jobs so that they end before it goes.
    Poco::ThreadPool m_zipPool;
    std::map<std::string, boost::shared_ptr<CompressFolderActivity>> m_zipActivities;
    std::unique_ptr<Cache::CacheActivity> m_cacheActivity;
    Util::AttemptsTracker m_attemptsTracker;
    Data::GuestUserManager* m_guestUserManager = nullptr;
    int m_cacheTotal = 0;
    int m_cacheCompleted = 0;
    int m_thumbSizeSmallPx = 64;
    int m_thumbSizeMediumPx = 128;
    int m_thumbSizeLargePx = 256;
    int m_viewWidthPx = 800;
    int m_viewHeightPx = 600;
    int m_viewWidthLargePx = 1024;
    int m_viewHeightLargePx = 768;
    Util::OpProcessor<DapplinePlugin> m_opProcessor;
    // Guards the download map, zip table, cache activity and counters, which
    // several deferred workers may reach at once.
    Poco::Mutex m_stateMutex;
};

}  // namespace Dappline
}  // namespace Orvane
