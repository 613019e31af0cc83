// One folder zip built in the background for a share visitor. The build
// runs on the plug-in's zip pool; starting, polling, downloading and
// abandoning come from host workers and the plug-in timer. The progress text
// and the last access time are guarded by the job's mutex; finished, result and
// error are written once by the build before it marks itself finished, and are
// only read after that mark; the client is set before the build starts and
// never changes. The zip is written under a hidden name and gets its visible
// name only when complete. The clock used for the idle test can be replaced
// (tests); it is guarded by a static mutex.
#pragma once

#include <Poco/Activity.h>
#include <Poco/Event.h>
#include <Poco/Mutex.h>
#include <Poco/Path.h>
#include <Poco/ThreadPool.h>
#include <Poco/Timestamp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "transfers/ZipWriter.h"

namespace Orvane {
namespace Dappline {

class CompressFolderActivity {
public:
    typedef std::function<Poco::Timestamp()> Clock;

    // Names of finished zips begin with this; no zip ever contains them.
    static const char* const ZIP_PREFIX;
    // Bytes of file content per zip; a total equal to it is allowed.
    static constexpr std::int64_t CONTENT_LIMIT = 1073741824;
    // A job nobody asked about for longer than this is abandoned.
    static constexpr long IDLE_SECONDS = 60;
    static constexpr long ABANDON_WAIT_MS = 30000;
    // Jobs in the plug-in's table at once: in all (also the zip pool's
    // size), and of one client address.
    static constexpr int MAX_JOBS = 4;
    static constexpr int MAX_JOBS_PER_ADDRESS = 2;

    // Who started the job: only the same client may watch or take it.
    struct Client {
        std::string address;   // the client address, "" when the host gave none
        std::string identity;  // the guest (session or credentials), "" for anonymous
        bool operator==(const Client& other) const {
            return address == other.address && identity == other.identity;
        }
    };

    CompressFolderActivity(const std::string& folder, const std::string& zipName);
    ~CompressFolderActivity();
    CompressFolderActivity(const CompressFolderActivity&) = delete;
    CompressFolderActivity& operator=(const CompressFolderActivity&) = delete;

    void run();
    void doActivity();
    std::int64_t compressFolderToZip(std::string folder, std::string zipName, std::string& error);

    // The progress text since the last read (possibly empty); clears it and
    // counts as an access.
    std::string getMessage();
    bool isAbandoned();
    // Stops the build (waiting at most ABANDON_WAIT_MS, then Poco's timeout
    // error) and removes the zip in whatever state it is.
    void abandonZip();
    // As abandonZip, but waits as long as the build needs (plug-in shutdown).
    void discardZip();
    // Starts the build on a thread of pool; once only.
    void start(Poco::ThreadPool& pool);
    Poco::Activity<CompressFolderActivity>& activity() { return m_activity; }

    bool isFinished() const { return m_finished.load(std::memory_order_acquire); }
    // Size of the finished zip in bytes, -1 when the job failed. Valid once
    // finished.
    std::int64_t getResult() const { return m_result.load(std::memory_order_acquire); }
    // Why the job failed. Valid once finished.
    const std::string& getError() const { return m_error; }
    void setDownloading() { m_downloading = true; }
    bool isDownloading() const { return m_downloading; }
    const std::string& getFolder() const { return m_folder; }
    const std::string& getZipName() const { return m_zipName; }
    std::string getZipPath() const;
    void setClient(const Client& client) { m_client = client; }
    const Client& getClient() const { return m_client; }

    // A decimal id of 32 random digits: ids are shown to their visitor only,
    // and one nobody was shown must not be found by trying.
    static std::string makeJobId();
    static std::string zipNameForId(const std::string& id);
    // The hidden name a zip is written under until it is complete.
    static std::string partNameFor(const std::string& zipName);
    // Names of zips, finished or being written, which no zip may contain.
    static bool isReservedName(const std::string& name);
    // An empty clock restores the system clock.
    static void setClock(Clock clock);
    static Poco::Timestamp now();

    // The writer the build uses, under the name its callers know.
    typedef ::Orvane::Dappline::ZipWriter ZipWriter;

private:
    std::int64_t addTopLevel(const std::string& folder, ZipWriter& zip, std::uint64_t& total,
                             std::string& error);
    std::int64_t recursiveZipFolder(const Poco::Path& dir, ZipWriter& zip, std::uint64_t& total,
                                    const Poco::Path& relative, std::string& error);
    // -1 when the content limit is passed or the disk is too full (error
    // set), 0 when stopped, 1 when added.
    int addFileEntry(const std::string& path, const std::string& entryName, ZipWriter& zip,
                     std::uint64_t& total, std::string& error);
    // False (error set) when writing bytes more, and the rest of the zip
    // after them, would take the disk below the host's free-space floor.
    bool roomFor(std::uint64_t bytes, const ZipWriter& zip, std::string& error) const;
    // Entries the zip leaves out at every level: hidden names, zips, and what
    // is not a plain file or folder (nor a link to a folder).
    static bool isLeftOut(const std::string& name, const std::string& path);
    bool stopRequested() const;
    void setProgress(const std::string& fileName);
    void removeZipFiles();

    // Poco's activity reads as ended before its thread has finished with
    // it, so destroying the job on that word freed it under the thread's
    // feet; `ended` is set by the thread as its very last step.
    class Task : public Poco::Activity<CompressFolderActivity> {
    public:
        Task(CompressFolderActivity* owner, Callback method);
        Poco::Event ended;

    protected:
        void run() override;
    };
    void waitEnded();
    void waitEnded(long milliseconds);

    Task m_activity;
    std::atomic<bool> m_started{false};
    std::string m_folder;
    std::string m_zipName;
    std::atomic<bool> m_finished{false};
    std::atomic<std::int64_t> m_result{-1};
    std::string m_message;
    Poco::Mutex m_mutex;
    Poco::Timestamp m_lastAccess;
    std::atomic<bool> m_downloading{false};
    std::string m_error;
    Client m_client;
};

}  // namespace Dappline
}  // namespace Orvane
