// Folder zips: the job on real folders (what goes in, limits, failures,
// stopping, idle time, ZIP64 and UTF-8 names), and the share page's three
// steps with the job table, the hand-over to the file download, the timer's
// abandonment and shutdown. Every zip made is checked with unzip and with
// Python's zipfile, and its listing compared with what the folder holds.
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <sys/statvfs.h>

#include <chrono>
#include <thread>

#include "SharePageFixture.h"
#include "ZipTestSupport.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/ProfileManager.h"
#include "transfers/CompressFolderActivity.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using Orvane::Dappline::CompressFolderActivity;
using TestSupport::Reply;
using namespace ZipTestSupport;

namespace {

typedef boost::shared_ptr<CompressFolderActivity> JobPtr;

const std::int64_t GiB = 1073741824;
const auto BOUND = std::chrono::seconds(120);

class ZipJob : public ::testing::Test {
protected:
    JobPtr start(const std::string& folder) {
        const std::string id = CompressFolderActivity::makeJobId();
        JobPtr job(new CompressFolderActivity(folder, CompressFolderActivity::zipNameForId(id)));
        job->start(Poco::ThreadPool::defaultPool());
        return job;
    }

    JobPtr run(const std::string& folder) {
        JobPtr job = start(folder);
        job->activity().wait(120000);
        EXPECT_TRUE(job->isFinished());
        return job;
    }

    std::string write(const std::string& relative, const std::string& content = "x") {
        return m_temp.write("f/" + relative, content);
    }

    std::string folder() const { return m_temp.path() + "/f"; }

    TestSupport::TempDir m_temp;
};

TEST_F(ZipJob, LeavesOutZipsAndHiddenEntriesAtEveryLevel) {
    write("a.txt", "alpha");
    write("Grüße.txt");
    write(".hidden.txt");
    write("Orvane_Zip_1.zip", "PK");
    write(".Orvane_Zip_2.zip.part");
    write(".hiddendir/x.txt");
    write("sub/b.txt", "beta");
    write("sub/.dot.txt");
    write("sub/.git/config");
    write("sub/Orvane_Zip_3.zip");
    write("sub/.Orvane_Zip_4.zip.part");
    write("sub/deeper/c.txt");
    write("sub/deeper/.env");
    write("sub/deeper/Orvane_Zip_x");
    write("sub/日本/d ü.txt", "delta");
    m_temp.mkdir("f/empty");
    ASSERT_EQ(0, symlink("..", (folder() + "/sub/up").c_str()));

    JobPtr job = run(folder());
    ASSERT_GE(job->getResult(), 0) << job->getError();
    EXPECT_EQ("", job->getError());
    const std::string zip = job->getZipPath();
    EXPECT_EQ(static_cast<std::int64_t>(Poco::File(zip).getSize()), job->getResult());
    EXPECT_EQ((Names{"Orvane_Zip_1.zip", ".Orvane_Zip_2.zip.part", job->getZipName()}),
              zipsIn(folder()));
    expectZipHolds(zip, {"a.txt", "Grüße.txt", "empty/", "sub/", "sub/b.txt", "sub/deeper/",
                         "sub/deeper/c.txt", "sub/日本/", "sub/日本/d ü.txt"});
    EXPECT_EQ("alpha", unzipFile(zip, "a.txt"));
    EXPECT_EQ("delta", unzipFile(zip, "sub/日本/d ü.txt"));
}

TEST_F(ZipJob, NamesThatAreNotUtf8StillGiveAZipBothReadersOpen) {
    write("caf\xe9.txt", "latin-1 name");
    write("plain.txt");
    JobPtr job = run(folder());
    ASSERT_GE(job->getResult(), 0) << job->getError();
    EXPECT_EQ(0, runProcess("unzip", {"-tqq", job->getZipPath()}).code);
    const Output python = runProcess("python3", {"-c", PYTHON_LISTING, job->getZipPath()});
    EXPECT_EQ(0, python.code);
    EXPECT_EQ(2u, lines(python.text).size());
}

TEST_F(ZipJob, AFileThatCannotBeReadIsSkippedAtTheTopAndFailsTheJobBelow) {
    write("ok.txt", "fine");
    const std::string secret = write("secret.txt", "hidden");
    {
        Unreadable guard(m_temp, {secret}, {folder()});
        if (!guard.usable())
            GTEST_SKIP() << "cannot drop the right to read every file";
        JobPtr job = run(folder());
        ASSERT_GE(job->getResult(), 0) << job->getError();
        expectZipHolds(job->getZipPath(), {"ok.txt"});
        Poco::File(job->getZipPath()).remove();
    }
    Poco::File(secret).moveTo(m_temp.mkdir("f/sub") + "/secret.txt");
    Unreadable guard(m_temp, {folder() + "/sub/secret.txt"}, {folder(), folder() + "/sub"});
    JobPtr job = run(folder());
    EXPECT_EQ(-1, job->getResult());
    EXPECT_EQ(0u, job->getError().find("Error when creating Zip File: ")) << job->getError();
    EXPECT_TRUE(zipsIn(folder()).empty());
}

TEST_F(ZipJob, OneByteOverTheContentLimitFailsWithTheSizeMessage) {
    sparseFile(folder() + "/big.bin", GiB + 1);
    JobPtr job = run(folder());
    EXPECT_EQ(-1, job->getResult());
    EXPECT_EQ("Zip File Download Size of 1.00 GB Exceeded", job->getError());
    EXPECT_TRUE(zipsIn(folder()).empty());
}

TEST_F(ZipJob, MissingFolderFailsTheJob) {
    JobPtr job = run(m_temp.path() + "/nothing");
    EXPECT_EQ(-1, job->getResult());
    EXPECT_EQ(0u, job->getError().find("Error when creating Zip File: ")) << job->getError();
    EXPECT_FALSE(Poco::File(m_temp.path() + "/nothing").exists());
}

// Tens of thousands of real files take minutes on a busy disk; the entries
// here all read one real file, through the writer the job uses.
TEST_F(ZipJob, MoreThan65535EntriesOpenThroughZip64Records) {
    const std::string source = write("one.txt", "z");
    const std::string zip = m_temp.path() + "/many.zip";
    Names expected;
    {
        Poco::FileOutputStream out(zip, std::ios::out | std::ios::binary | std::ios::trunc);
        CompressFolderActivity::ZipWriter writer(out, [] { return false; });
        const Poco::Timestamp modified;
        for (int d = 0; d < 64; ++d) {
            const std::string dir = "d" + std::to_string(d);
            writer.addDirectory(dir, modified);
            expected.insert(dir + "/");
            for (int f = 0; f < 1025; ++f) {
                const std::string name = dir + "/" + std::to_string(f) + "ü";
                ASSERT_TRUE(writer.addFile(source, name, modified, 1));
                expected.insert(name);
            }
        }
        const std::uint64_t length = writer.close();
        out.close();
        EXPECT_EQ(Poco::File(zip).getSize(), length);
    }
    ASSERT_GT(expected.size(), 65535u);
    expectZipHolds(zip, expected);
    EXPECT_EQ("z", unzipFile(zip, "d63/1024ü"));
}

TEST_F(ZipJob, AbandonStopsTheBuildAndRemovesItsFile) {
    sparseFile(folder() + "/big.bin", GiB);
    JobPtr job = start(folder());
    const auto deadline = std::chrono::steady_clock::now() + BOUND;
    std::string message;
    while (message.empty() && !job->isFinished() && std::chrono::steady_clock::now() < deadline) {
        message = job->getMessage();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ("<message>Adding big.bin</message>", message);
    job->abandonZip();
    EXPECT_TRUE(job->isFinished());
    EXPECT_EQ(-1, job->getResult());
    EXPECT_TRUE(zipsIn(folder()).empty());
}

TEST_F(ZipJob, IdleMeansMoreThanSixtySecondsSinceCreationOrTheLastRead) {
    FakeClock clock;
    CompressFolderActivity job(folder(), CompressFolderActivity::zipNameForId("1"));
    clock.advanceSeconds(60);
    EXPECT_FALSE(job.isAbandoned());
    clock.advanceSeconds(1);
    EXPECT_TRUE(job.isAbandoned());
    EXPECT_EQ("", job.getMessage());
    EXPECT_FALSE(job.isAbandoned());
    clock.advanceSeconds(60);
    EXPECT_FALSE(job.isAbandoned());
    clock.advanceSeconds(1);
    EXPECT_TRUE(job.isAbandoned());
}

// Digits for the status window, and nothing a visitor could count up to.
TEST_F(ZipJob, IdsAreLongRandomDecimals) {
    std::set<std::string> seen;
    std::size_t digitCount[10] = {};
    for (int i = 0; i < 10000; ++i) {
        const std::string id = CompressFolderActivity::makeJobId();
        ASSERT_EQ(32u, id.size()) << id;
        ASSERT_EQ(std::string::npos, id.find_first_not_of("0123456789")) << id;
        ASSERT_TRUE(seen.insert(id).second) << id;
        for (char c : id)
            ++digitCount[c - '0'];
    }
    for (std::size_t count : digitCount)
        EXPECT_NEAR(32000.0, static_cast<double>(count), 2000.0);
}

// The share page's zip steps, as the share page hands them over.
class ZipDownload : public ShareFixture {
protected:
    void SetUp() override {
        ShareFixture::SetUp();
        m_share = addShare("pub", "pub");
        m_folder = m_temp->path() + "/pub";
    }

    MessagePtr stepRequest(const std::string& query) { return shareRequest("pub/", query); }

    std::vector<Reply> stepReplies(const std::string& step, const std::string& query,
                                   const std::string& folder, int userId = -1,
                                   MessagePtr* sent = nullptr) {
        MessagePtr msg = stepRequest(query);
        msg->clientAddress = m_address;
        if (!m_guest.empty()) {
            msg->authRole = 30;
            msg->authUser = m_guest;
        }
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/form?" + query);
        Poco::Net::HTMLForm form(request);
        m_plugin->handleZipStep(msg, step, form, folder, m_share.shareId, userId);
        if (sent)
            *sent = msg;
        return repliesFor(msg);
    }

    Reply step(const std::string& name, const std::string& query, const std::string& folder,
               int userId = -1) {
        std::vector<Reply> replies = stepReplies(name, query, folder, userId);
        EXPECT_EQ(1u, replies.size()) << name;
        return replies.empty() ? Reply() : replies.front();
    }

    std::string startZip(const std::string& folder, int userId = -1) {
        const std::string body = step("startzip", "startzip=1", folder, userId).body;
        const std::string open = "<result><id>";
        EXPECT_EQ(0u, body.find(open)) << body;
        const std::string id = body.substr(open.size(), body.find("</id>") - open.size());
        EXPECT_EQ(body, open + id + "</id></result>");
        return id;
    }

    std::string status(const std::string& id, const std::string& folder, int userId = -1) {
        return step("zipstatus", "zipstatus=1&id=" + id, folder, userId).body;
    }

    // Polls as the status window does until the job reports finished.
    void pollUntilFinished(const std::string& id, const std::string& folder, int userId = -1) {
        const auto deadline = std::chrono::steady_clock::now() + BOUND;
        while (status(id, folder, userId) != "<result><finished>1</finished></result>") {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "job " << id;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::string download(const std::string& id, const std::string& folder) {
        return step("downloadaszip", "downloadaszip=1&id=" + id, folder).body;
    }

    std::string zipPath(const std::string& id) const {
        return m_folder + "/" + CompressFolderActivity::zipNameForId(id);
    }

    // The client the steps come from: its address and guest session.
    void from(const std::string& address, const std::string& guest = "") {
        m_address = address;
        m_guest = guest;
    }

    Orvane::Dappline::Dappline m_share;
    std::string m_folder;
    std::string m_address, m_guest;
};

TEST_F(ZipDownload, FinishedZipGoesToTheHostAndIsDeletedWhenSent) {
    m_temp->write("pub/a.txt", "alpha");
    m_temp->write("pub/sub/b.txt", "beta");
    const int guest = addGuest("anna", "secret");
    const std::string id = startZip(m_folder, guest);
    pollUntilFinished(id, m_folder, guest);

    MessagePtr sent;
    std::vector<Reply> replies = stepReplies(
        "downloadaszip", "downloadaszip=1&action=download&id=" + id, m_folder, guest, &sent);
    ASSERT_EQ(1u, replies.size());
    const Reply& reply = replies.front();
    EXPECT_EQ(zipPath(id), reply.field(HTTP::S_HTTP_SEND_FILE));
    EXPECT_EQ("attachment; filename=\"" + CompressFolderActivity::zipNameForId(id) + "\"",
              reply.field(HTTP::S_HTTP_CONTENT_DISPOSITION));
    expectZipHolds(zipPath(id), {"a.txt", "sub/", "sub/b.txt"});
    EXPECT_EQ(0u, m_plugin->zipJobCount());
    EXPECT_TRUE(contains(downloadHistory(), m_folder + " Zip")) << downloadHistory();
    EXPECT_TRUE(contains(downloadHistory(), "anna"));
    EXPECT_EQ("<result><finished>1</finished></result>", status(id, m_folder));

    MessagePtr done = ownerRequest(Sync::MO_SEND_FILE_COMPLETE);
    (*done)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = tokenOf(sent);
    deliver(done);
    EXPECT_FALSE(Poco::File(zipPath(id)).exists());
    EXPECT_EQ(0u, m_plugin->downloadCount());
}

TEST_F(ZipDownload, RunningJobReportsEachFileOnceAndIsNotYetDownloadable) {
    // Exactly the content limit, and long enough to watch.
    sparseFile(m_folder + "/big.bin", GiB - 1);
    m_temp->write("pub/sub/one.txt", "1");
    const std::string id = startZip(m_folder);
    const std::string adding = "<result><finished>0</finished><message>Adding big.bin</message>";
    const auto deadline = std::chrono::steady_clock::now() + BOUND;
    std::string body;
    while (body.find(adding) != 0 && std::chrono::steady_clock::now() < deadline) {
        body = status(id, m_folder);
        ASSERT_EQ(Names(), zipsIn(m_folder, true)) << "a visitor would see a growing zip";
        if (body == "<result><finished>1</finished></result>")
            break;
    }
    ASSERT_EQ(adding + "</result>", body);
    EXPECT_EQ("<result><finished>0</finished></result>", status(id, m_folder));
    EXPECT_TRUE(contains(download(id, m_folder), "Zip is not complete for Download"));

    pollUntilFinished(id, m_folder);
    EXPECT_EQ(Names{CompressFolderActivity::zipNameForId(id)}, zipsIn(m_folder));
    expectZipHolds(zipPath(id), {"big.bin", "sub/", "sub/one.txt"});
}

TEST_F(ZipDownload, FailedJobShowsItsErrorOnceThenIsGone) {
    sparseFile(m_folder + "/big.bin", GiB + 1);
    const std::string id = startZip(m_folder);
    pollUntilFinished(id, m_folder);
    const std::string page = download(id, m_folder);
    EXPECT_TRUE(contains(page, "Zip File Download Size of 1.00 GB Exceeded")) << page;
    EXPECT_TRUE(contains(download(id, m_folder), "Unable to find Zip ID"));
    EXPECT_TRUE(contains(download("", m_folder), "Bad ID specified for Download"));
    EXPECT_TRUE(zipsIn(m_folder).empty());
    EXPECT_EQ(0u, m_plugin->zipJobCount());
}

TEST_F(ZipDownload, UnknownAndForeignIdsReadAsFinishedAndCannotBeTaken) {
    const std::string finished = "<result><finished>1</finished></result>";
    EXPECT_EQ(finished, status("123", m_folder));
    EXPECT_EQ(finished, step("zipstatus", "zipstatus=1", m_folder).body);
    EXPECT_TRUE(contains(download("123", m_folder), "Unable to find Zip ID"));

    m_temp->write("pub/a.txt", "alpha");
    const std::string other = m_temp->mkdir("other");
    const std::string id = startZip(m_folder);
    pollUntilFinished(id, m_folder);
    EXPECT_EQ(finished, status(id, other));
    EXPECT_TRUE(contains(download(id, other), "Unable to find Zip ID"));
    EXPECT_EQ(1u, m_plugin->zipJobCount());
    EXPECT_TRUE(Poco::File(zipPath(id)).exists());
}

TEST_F(ZipDownload, TwoJobsStartedTogetherHaveTheirOwnIdsAndFiles) {
    m_temp->write("pub/a.txt", "alpha");
    const std::string first = startZip(m_folder);
    const std::string second = startZip(m_folder);
    EXPECT_NE(first, second);
    pollUntilFinished(first, m_folder);
    pollUntilFinished(second, m_folder);
    EXPECT_EQ((Names{CompressFolderActivity::zipNameForId(first),
                     CompressFolderActivity::zipNameForId(second)}),
              zipsIn(m_folder));
    expectZipHolds(zipPath(first), {"a.txt"});
    expectZipHolds(zipPath(second), {"a.txt"});
}

TEST_F(ZipDownload, TimerAbandonsOnlyJobsIdleForMoreThanAMinute) {
    FakeClock clock;
    m_temp->write("pub/a.txt", "alpha");
    const std::string id = startZip(m_folder);
    pollUntilFinished(id, m_folder);
    clock.advanceSeconds(30);
    m_plugin->abandonIdleZipJobs();
    EXPECT_EQ(1u, m_plugin->zipJobCount());
    EXPECT_TRUE(Poco::File(zipPath(id)).exists());

    clock.advanceSeconds(31);
    m_plugin->abandonIdleZipJobs();
    EXPECT_EQ(0u, m_plugin->zipJobCount());
    EXPECT_TRUE(zipsIn(m_folder).empty());
    EXPECT_TRUE(contains(download(id, m_folder), "Unable to find Zip ID"));
}

// Two jobs of one address and four in all; another client, at another
// address or in another guest session, gets "Invalid Zip Id" and leaves the
// job as it was.
TEST_F(ZipDownload, JobsAreCappedAndBelongToTheClientThatStartedThem) {
    m_temp->write("pub/a.txt", "alpha");
    const std::string busy = "The server is busy, try again later";
    from("10.0.0.1");
    const std::string mine = startZip(m_folder);
    from("10.0.0.1", "anna");
    startZip(m_folder);
    EXPECT_TRUE(contains(step("startzip", "startzip=1", m_folder).body, busy));
    from("10.0.0.2");
    startZip(m_folder);
    startZip(m_folder);
    from("10.0.0.3");
    EXPECT_TRUE(contains(step("startzip", "startzip=1", m_folder).body, busy));
    EXPECT_EQ(4u, m_plugin->zipJobCount());

    for (const std::string guest : {"", "anna"}) {
        from(guest.empty() ? "10.0.0.2" : "10.0.0.1", guest);
        EXPECT_EQ(
            "<result><operation>zipstatus</operation><success>0</success><message>Invalid "
            "Zip Id</message></result>",
            status(mine, m_folder));
        EXPECT_TRUE(contains(download(mine, m_folder), "Invalid Zip Id"));
    }
    EXPECT_EQ(4u, m_plugin->zipJobCount());
    from("10.0.0.1");
    pollUntilFinished(mine, m_folder);
    EXPECT_EQ(zipPath(mine), step("downloadaszip", "downloadaszip=1&id=" + mine, m_folder)
                                 .field(HTTP::S_HTTP_SEND_FILE));
    from("10.0.0.3");
    startZip(m_folder);
    EXPECT_EQ(4u, m_plugin->zipJobCount());
}

// A job must not take the disk below min.free.mb: refused before it starts,
// and ended with nothing left behind when a file would cross the floor.
TEST_F(ZipDownload, TheFreeDiskFloorHoldsBeforeAndWhileAJobWrites) {
    struct Floor {
        ~Floor() { Orvane::API::ProfileManager::setProperty("min.free.mb", ""); }
        void set(std::uint64_t mb) {
            Orvane::API::ProfileManager::setProperty("min.free.mb", std::to_string(mb));
        }
    } floor;
    m_temp->write("pub/a.txt", "alpha");
    floor.set(1ULL << 30);
    const std::string refused = step("startzip", "startzip=1", m_folder).body;
    EXPECT_TRUE(contains(refused, "Not enough free disk space for the zip")) << refused;
    EXPECT_EQ(0u, m_plugin->zipJobCount());

    struct statvfs fs;
    ASSERT_EQ(0, statvfs(m_folder.c_str(), &fs));
    floor.set(fs.f_bavail * fs.f_frsize / (1024 * 1024) - 64);
    sparseFile(m_folder + "/big.bin", 256 * 1024 * 1024);
    const std::string id = startZip(m_folder);
    pollUntilFinished(id, m_folder);
    EXPECT_TRUE(contains(download(id, m_folder), "Not enough free disk space for the zip"));
    EXPECT_TRUE(zipsIn(m_folder).empty());
}

// An abandon that fails for another reason than time (here: a folder the
// zips cannot be removed from) keeps that job and the later ones for the
// next tick.
TEST_F(ZipDownload, TheTimerKeepsIdleJobsWhenAbandoningOneFails) {
    FakeClock clock;
    m_temp->write("pub/a.txt", "alpha");
    const std::string first = startZip(m_folder), second = startZip(m_folder);
    pollUntilFinished(first, m_folder);
    pollUntilFinished(second, m_folder);
    clock.advanceSeconds(61);
    {
        Unreadable guard(*m_temp, {}, {m_folder}, 0555);
        if (!guard.usable())
            GTEST_SKIP() << "cannot drop the right to write every folder";
        EXPECT_ANY_THROW(m_plugin->abandonIdleZipJobs());
        EXPECT_EQ(2u, m_plugin->zipJobCount());
    }
    chmod(m_folder.c_str(), 0755);
    m_plugin->abandonIdleZipJobs();
    EXPECT_EQ(0u, m_plugin->zipJobCount());
    EXPECT_TRUE(zipsIn(m_folder).empty());
}

// The same steps as a browser and the host timer bring them.
TEST_F(ZipDownload, ShareAddressReachesTheStepsAndTheTimerTickAbandons) {
    FakeClock clock;
    m_temp->write("pub/sub/a.txt", "alpha");
    const std::string started = get("pub/sub/", "vm=gallery&startzip=1").body;
    ASSERT_EQ(0u, started.find("<result><id>")) << started;
    const std::string id = started.substr(12, started.find("</id>") - 12);
    const auto deadline = std::chrono::steady_clock::now() + BOUND;
    while (get("pub/sub/", "zipstatus=1&id=" + id).body !=
           "<result><finished>1</finished></result>") {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string subZip = m_folder + "/sub/" + CompressFolderActivity::zipNameForId(id);
    expectZipHolds(subZip, {"a.txt"});

    clock.advanceSeconds(61);
    deliver(ownerRequest(Timer::MO_TIMER));
    EXPECT_EQ(0u, m_plugin->zipJobCount());
    EXPECT_FALSE(Poco::File(subZip).exists());
    EXPECT_TRUE(
        contains(get("pub/sub/", "downloadaszip=1&id=" + id).body, "Unable to find Zip ID"));
}

TEST_F(ZipDownload, ShutdownStopsJobsAndRemovesTheirZips) {
    m_temp->write("pub/a.txt", "alpha");
    const std::string done = startZip(m_folder);
    pollUntilFinished(done, m_folder);
    const std::string bigFolder = m_temp->mkdir("big");
    sparseFile(bigFolder + "/big.bin", GiB);
    startZip(bigFolder);
    m_plugin->stopZipJobsForShutdown();
    EXPECT_EQ(0u, m_plugin->zipJobCount());
    EXPECT_TRUE(zipsIn(m_folder).empty());
    EXPECT_TRUE(zipsIn(bigFolder).empty());
}

TEST_F(ZipDownload, HostZipRequestIsForwardedOnlyForAReadablePath) {
    MessagePtr granted = request("startzip", "path=" + m_folder);
    m_plugin->onStartZip(nullptr, granted);
    ASSERT_TRUE(m_userManager->waitForCount(1));
    MessagePtr forwarded = m_userManager->messages().front();
    EXPECT_EQ(granted.get(), forwarded.get());
    EXPECT_EQ("1", (*forwarded)[GuestAccess::MS_GUESTACCESS].getString(GuestAccess::S_ALLOW));

    MessagePtr refused = request("startzip", "path=%2Fetc");
    m_plugin->onStartZip(nullptr, refused);
    MessagePtr missing = request("startzip");
    m_plugin->onStartZip(nullptr, missing);
    EXPECT_EQ(1u, m_userManager->count());
    EXPECT_TRUE(repliesFor(refused).empty());
}

}  // namespace
