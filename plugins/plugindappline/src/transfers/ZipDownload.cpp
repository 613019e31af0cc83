// Folder zip downloads: the share page's three steps (start a job, poll its
// progress, send the finished zip), the timer's and shutdown's clean-up of
// jobs, and the host zip service's access question. Host workers and the
// timer reach m_zipActivities at once, so it is only touched under
// m_stateMutex; waits for jobs to stop happen outside the lock.
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/ThreadPool.h>
#include <Poco/URI.h>

#include <vector>

#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/GuestUserManager.h"
#include "orvane/HTTPUtil.h"
#include "orvane/PoManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"
#include "store/DapplineHistory.h"
#include "transfers/CompressFolderActivity.h"
#include "transfers/ZipJournal.h"

namespace Orvane {
namespace Dappline {

namespace {

typedef boost::shared_ptr<CompressFolderActivity> JobPtr;

std::string T(const std::string& text) {
    return PoManager().getTranslation(text);
}

}  // namespace

void DapplinePlugin::onStartZip(const void*, MessagePtr& msg) {
    std::string path;
    Poco::URI::decode(queryValue(msg, "path"), path);
    if (path.empty())
        return;
    passToUserManager(msg, path, false);
}

namespace {

// The plug-in's job table with the lock that guards it.
class JobTable {
public:
    JobTable(std::map<std::string, JobPtr>& jobs, Poco::Mutex& mutex)
        : m_jobs(jobs), m_mutex(mutex) {}

    void put(const std::string& id, const JobPtr& job) {
        Poco::Mutex::ScopedLock lock(m_mutex);
        m_jobs[id] = job;
    }

    // A job belongs to the folder it was started for: an id brought to
    // another share's address is unknown there, so a visitor can neither
    // watch nor take another share's zip.
    JobPtr find(const std::string& id, const std::string& folder) {
        Poco::Mutex::ScopedLock lock(m_mutex);
        return findLocked(id, folder);
    }

    // The finished job, out of the table, so that the timer cannot abandon
    // it any more; an unfinished one stays and is returned all the same.
    JobPtr takeFinished(const std::string& id, const std::string& folder) {
        Poco::Mutex::ScopedLock lock(m_mutex);
        JobPtr job = findLocked(id, folder);
        if (job && job->isFinished()) {
            m_jobs.erase(id);
            if (job->getResult() >= 0)
                job->setDownloading();
        }
        return job;
    }

private:
    JobPtr findLocked(const std::string& id, const std::string& folder) {
        auto it = m_jobs.find(id);
        if (it == m_jobs.end() || it->second->getFolder() != folder)
            return JobPtr();
        return it->second;
    }

    std::map<std::string, JobPtr>& m_jobs;
    Poco::Mutex& m_mutex;
};

void sendErrorPage(DapplinePlugin& plugin, MessagePtr& msg, const std::string& text) {
    plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML(text), 200);
}

void startJob(DapplinePlugin& plugin, JobTable table, MessagePtr& msg, const std::string& folder) {
    const std::string id = CompressFolderActivity::makeJobId();
    JobPtr job(new CompressFolderActivity(folder, CompressFolderActivity::zipNameForId(id)));
    try {
        ZipJournal::record(folder, job->getZipName());
        job->start(Poco::ThreadPool::defaultPool());
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("Dapplinepro").error("startzip: " + e.displayText());
        plugin.sendSyncResponse(
            msg,
            Util::HTTP::getXMLResult("startzip", false, T("The server is busy, try again later")));
        return;
    }
    table.put(id, job);
    plugin.sendSyncResponse(msg, "<result><id>" + id + "</id></result>");
}

void reportProgress(DapplinePlugin& plugin, JobTable table, MessagePtr& msg, const std::string& id,
                    const std::string& folder) {
    JobPtr job = id.empty() ? JobPtr() : table.find(id, folder);
    if (!job || job->isFinished()) {
        plugin.sendSyncResponse(msg, "<result><finished>1</finished></result>");
        return;
    }
    plugin.sendSyncResponse(msg,
                            "<result><finished>0</finished>" + job->getMessage() + "</result>");
}

void recordZipDownload(DapplineDB& db, int shareId, const std::string& folder, std::int64_t size,
                       int userId) {
    if (userId == -1)
        return;
    boost::shared_ptr<Data::GuestUser> user = API::GuestUserManager::guestUserGet(userId);
    if (!user)
        return;
    DapplineHistory entry(shareId, folder + " Zip", size, DapplineHistory::now(), userId,
                          user->getName());
    db.addHistory(entry);
}

// The host would refuse such a path without an answer, and the zip would
// then stay behind: remove it and say so instead.
bool isSendable(const std::string& path) {
    if (Util::isAllowedFile(path) && Util::isAllowedPath(path, false, true))
        return true;
    try {
        Poco::File file(path);
        if (file.exists())
            file.remove();
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("Dapplinepro").error(e.displayText());
    }
    return false;
}

void sendFinishedZip(DapplinePlugin& plugin, JobTable table, MessagePtr& msg,
                     System::MessageDispatcher* dispatcher, const std::string& id,
                     const std::string& folder, int shareId, int userId) {
    if (id.empty())
        return sendErrorPage(plugin, msg, T("Bad ID specified for Download"));
    JobPtr job = table.takeFinished(id, folder);
    if (!job)
        return sendErrorPage(plugin, msg, T("Unable to find Zip ID"));
    if (!job->isFinished())
        return sendErrorPage(plugin, msg, T("Zip is not complete for Download"));
    const std::int64_t size = job->getResult();
    if (size < 0) {
        const std::string& error = job->getError();
        return sendErrorPage(plugin, msg,
                             error.empty() ? T("Error when creating Zip File") : error);
    }
    const std::string path = job->getZipPath();
    if (!isSendable(path))
        return sendErrorPage(plugin, msg, T("Unable to find Zip File"));
    plugin.sendChunkedFile(msg, dispatcher, path, job->getZipName(),
                           static_cast<std::uint64_t>(size), userId, true);
    recordZipDownload(*plugin.database(), shareId, folder, size, userId);
}

}  // namespace

void DapplinePlugin::handleZipStep(MessagePtr& msg, const std::string& step,
                                   const Poco::Net::NameValueCollection& query,
                                   const std::string& folder, int shareId, int userId) {
    JobTable table(m_zipActivities, m_stateMutex);
    const std::string id = query.get("id", "");
    if (step == "startzip") {
        startJob(*this, table, msg, folder);
    } else if (step == "zipstatus") {
        reportProgress(*this, table, msg, id, folder);
    } else if (step == "downloadaszip") {
        sendFinishedZip(*this, table, msg, m_dispatcher, id, folder, shareId, userId);
    } else {
        sendErrorPage(*this, msg, "");
    }
}

// An abandon that overruns its wait ends the walk: that job and the ones not
// yet reached go back into the table for the next tick, and the timeout goes
// on to the caller.
void DapplinePlugin::abandonIdleZipJobs() {
    std::vector<std::pair<std::string, JobPtr>> idle;
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        for (auto it = m_zipActivities.begin(); it != m_zipActivities.end();) {
            if (it->second->isAbandoned()) {
                idle.push_back(*it);
                it = m_zipActivities.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::size_t i = 0; i < idle.size(); ++i) {
        try {
            idle[i].second->abandonZip();
        } catch (const Poco::TimeoutException&) {
            Poco::Mutex::ScopedLock lock(m_stateMutex);
            m_zipActivities.insert(idle.begin() + static_cast<std::ptrdiff_t>(i), idle.end());
            throw;
        }
    }
}

// The jobs run plug-in code, which is unloaded after shutdown: each is told
// to stop, then waited for, and its zip removed, finished or not (nobody can
// ask for it any more).
void DapplinePlugin::stopZipJobsForShutdown() {
    std::map<std::string, JobPtr> jobs;
    {
        Poco::Mutex::ScopedLock lock(m_stateMutex);
        jobs.swap(m_zipActivities);
    }
    for (auto& entry : jobs)
        entry.second->activity().stop();
    for (auto& entry : jobs) {
        try {
            entry.second->discardZip();
        } catch (const Poco::Exception& e) {
            Poco::Logger::get("Dapplinepro").error("stopZipJobsForShutdown: " + e.displayText());
        }
    }
}

}  // namespace Dappline
}  // namespace Orvane
