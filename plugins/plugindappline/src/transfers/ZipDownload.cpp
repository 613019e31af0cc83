// Folder zip downloads: the share page's three steps (start a job, poll its
// progress, send the finished zip), the timer's and shutdown's clean-up of
// jobs, and the host zip service's access question. Each job belongs to the
// client that started it, and a visitor can hold only a few at once: every
// job writes up to a gigabyte into the shared folder. Host workers and the
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
#include "orvane/AuthKey.h"
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
typedef CompressFolderActivity::Client Client;

std::string T(const std::string& text) {
    return PoManager().getTranslation(text);
}

// A guest is told apart by the session's name or by the credentials the
// share page accepted; anonymous visitors by their address alone.
Client clientOf(const MessagePtr& msg, int userId) {
    Client client;
    client.address = msg->clientAddress;
    if (msg->authRole >= Data::AuthKey::ROLE_OWNER)
        client.identity = "owner";
    else if (msg->authRole == Data::AuthKey::ROLE_GUEST && !msg->authUser.empty())
        client.identity = "guest " + msg->authUser;
    else if (userId != -1)
        client.identity = "user " + std::to_string(userId);
    return client;
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

// A job looked up for a client: none, another client's, or the client's own.
struct Found {
    JobPtr job;
    bool foreign = false;
};

// The plug-in's job table with the lock that guards it.
class JobTable {
public:
    JobTable(std::map<std::string, JobPtr>& jobs, Poco::Mutex& mutex)
        : m_jobs(jobs), m_mutex(mutex) {}

    // False when the caps are reached: the job is then not in the table.
    bool reserve(const std::string& id, const JobPtr& job) {
        Poco::Mutex::ScopedLock lock(m_mutex);
        int ofAddress = 0;
        for (const auto& entry : m_jobs) {
            if (entry.second->getClient().address == job->getClient().address)
                ++ofAddress;
        }
        if (static_cast<int>(m_jobs.size()) >= CompressFolderActivity::MAX_JOBS ||
            ofAddress >= CompressFolderActivity::MAX_JOBS_PER_ADDRESS || m_jobs.count(id) != 0)
            return false;
        m_jobs[id] = job;
        return true;
    }

    void remove(const std::string& id) {
        Poco::Mutex::ScopedLock lock(m_mutex);
        m_jobs.erase(id);
    }

    // A job belongs to the folder it was started for: an id brought to
    // another share's address is unknown there.
    Found find(const std::string& id, const std::string& folder, const Client& client) {
        Poco::Mutex::ScopedLock lock(m_mutex);
        return findLocked(id, folder, client);
    }

    // The client's finished job, out of the table, so that the timer cannot
    // abandon it any more; an unfinished or foreign one stays and is
    // returned all the same.
    Found takeFinished(const std::string& id, const std::string& folder, const Client& client) {
        Poco::Mutex::ScopedLock lock(m_mutex);
        Found found = findLocked(id, folder, client);
        if (found.job && !found.foreign && found.job->isFinished()) {
            m_jobs.erase(id);
            if (found.job->getResult() >= 0)
                found.job->setDownloading();
        }
        return found;
    }

private:
    Found findLocked(const std::string& id, const std::string& folder, const Client& client) {
        Found found;
        auto it = m_jobs.find(id);
        if (it == m_jobs.end() || it->second->getFolder() != folder)
            return found;
        found.job = it->second;
        found.foreign = !(found.job->getClient() == client);
        return found;
    }

    std::map<std::string, JobPtr>& m_jobs;
    Poco::Mutex& m_mutex;
};

void sendErrorPage(DapplinePlugin& plugin, MessagePtr& msg, const std::string& text) {
    plugin.sendSyncHTTPResponse(msg, plugin.getErrorHTML(text), 200);
}

void refuseStart(DapplinePlugin& plugin, MessagePtr& msg, const std::string& why) {
    plugin.sendSyncResponse(msg, Util::HTTP::getXMLResult("startzip", false, T(why)));
}

void startJob(DapplinePlugin& plugin, JobTable table, MessagePtr& msg, const std::string& folder,
              const Client& client, Poco::ThreadPool& pool) {
    if (!Util::hasFreeSpace(folder, 0))
        return refuseStart(plugin, msg, "Not enough free disk space for the zip");
    const std::string id = CompressFolderActivity::makeJobId();
    JobPtr job(new CompressFolderActivity(folder, CompressFolderActivity::zipNameForId(id)));
    job->setClient(client);
    if (!table.reserve(id, job))
        return refuseStart(plugin, msg, "The server is busy, try again later");
    try {
        ZipJournal::record(folder, job->getZipName());
        job->start(pool);
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("Dapplinepro").error("startzip: " + e.displayText());
        table.remove(id);
        return refuseStart(plugin, msg, "The server is busy, try again later");
    }
    plugin.sendSyncResponse(msg, "<result><id>" + id + "</id></result>");
}

void reportProgress(DapplinePlugin& plugin, JobTable table, MessagePtr& msg, const std::string& id,
                    const std::string& folder, const Client& client) {
    const Found found = id.empty() ? Found() : table.find(id, folder, client);
    if (found.foreign) {
        plugin.sendSyncResponse(msg,
                                Util::HTTP::getXMLResult("zipstatus", false, T("Invalid Zip Id")));
    } else if (!found.job || found.job->isFinished()) {
        plugin.sendSyncResponse(msg, "<result><finished>1</finished></result>");
    } else {
        plugin.sendSyncResponse(
            msg, "<result><finished>0</finished>" + found.job->getMessage() + "</result>");
    }
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
    const Found found = table.takeFinished(id, folder, clientOf(msg, userId));
    if (found.foreign)
        return sendErrorPage(plugin, msg, T("Invalid Zip Id"));
    const JobPtr& job = found.job;
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
        startJob(*this, table, msg, folder, clientOf(msg, userId), m_zipPool);
    } else if (step == "zipstatus") {
        reportProgress(*this, table, msg, id, folder, clientOf(msg, userId));
    } else if (step == "downloadaszip") {
        sendFinishedZip(*this, table, msg, m_dispatcher, id, folder, shareId, userId);
    } else {
        sendErrorPage(*this, msg, "");
    }
}

// An abandon that fails (a build that overruns its wait, a zip that cannot be
// removed) ends the walk: that job and the ones not yet reached go back into
// the table for the next tick, and the error goes on to the caller.
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
        } catch (...) {
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
