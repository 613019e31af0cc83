// The crash suite: the host killed with SIGKILL at seeded random moments
// (ORVANE_STRESS_SEED; ORVANE_STRESS_CRASH_RUNS runs) while clients upload,
// PUT over WebDAV, build zips and change shares, then started again on the
// same profile. After each kill no final name holds half a file and the
// databases are sound; after each start the unfinished transfers are gone,
// the plug-in answers again, and nothing a client was told had been stored
// is missing.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/Path.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "DavSupport.h"
#include "StressChecks.h"
#include "StressHost.h"

using namespace Stress;

namespace {

const int kPutNames = 3;

// One PUT, with the ledger's clock when it was sent and when it settled:
// confirmed, or cut off by the kill that ended its run (0 while under way).
struct PutRecord {
    std::string content;
    long sent = 0;
    long settled = 0;
    bool confirmed = false;
};

// What the clients sent and what the host confirmed, over all runs.
struct Ledger {
    std::mutex mutex;
    long clock = 0;
    std::set<std::string> uploadsSent;
    std::vector<std::string> uploadsStored;
    std::map<std::string, std::vector<PutRecord>> puts;  // by path
    std::set<std::string> sharesStored;                  // names added and not being removed

    // After the kill, with the clients gone.
    void endRun() {
        std::lock_guard<std::mutex> lock(mutex);
        ++clock;
        for (auto& entry : puts) {
            for (PutRecord& put : entry.second) {
                if (put.settled == 0)
                    put.settled = clock;
            }
        }
    }

    // What the file may hold now: PUTs that settled only after the latest
    // confirmed one was sent. PUTs under way together may be stored in
    // either order, and answered in either order. Empty when none was
    // confirmed.
    static std::set<std::string> possibleContents(const std::vector<PutRecord>& sent) {
        long lastConfirmedSent = 0;
        for (const PutRecord& put : sent) {
            if (put.confirmed)
                lastConfirmedSent = std::max(lastConfirmedSent, put.sent);
        }
        std::set<std::string> possible;
        for (const PutRecord& put : sent) {
            if (lastConfirmedSent > 0 && put.settled > lastConfirmedSent)
                possible.insert(put.content);
        }
        return possible;
    }
};

class CrashRun {
public:
    CrashRun(StressHost& host, Ledger& ledger, unsigned seed)
        : m_host(host), m_ledger(ledger), m_seed(seed) {}

    void clients(int n) {
        // Signed in before the clock of the kill runs: signing in is slow
        // on purpose.
        m_cookie = m_host.signIn();
        for (int i = 0; i < n; ++i)
            m_threads.emplace_back([this, i] { loop(i); });
    }
    void join() {
        m_stop = true;
        for (auto& t : m_threads)
            t.join();
    }
    long confirmed() const { return m_confirmed; }
    // "uploads 3/5, PUTs ..., zips ..., shares ...": confirmed of tried.
    std::string tally() const {
        static const char* names[] = {"uploads", "PUTs", "zips", "shares"};
        std::string out;
        for (int k = 0; k < 4; ++k) {
            out += std::string(k ? ", " : "") + names[k] + " " + std::to_string(m_done[k]) + "/" +
                   std::to_string(m_tried[k]);
        }
        return out;
    }

private:
    void loop(int index) {
        std::mt19937 rng(m_seed + static_cast<unsigned>(index) * 31u);
        E2E::HttpClient http = m_host.client();
        const std::string& cookie = m_cookie;
        int serial = 0;
        while (!m_stop) {
            try {
                const int kind = (index + serial++) % 4;
                ++m_tried[kind];
                switch (kind) {
                    case 0:
                        upload(http, rng, cookie, index, serial);
                        break;
                    case 1:
                        put(http, rng, cookie, index, serial);
                        break;
                    case 2:
                        zip(http, cookie);
                        break;
                    default:
                        owner(http, index, serial);
                }
            } catch (const std::exception&) {
                // The host is gone or going: what counts is what it confirmed.
                http = m_host.client();
            }
        }
    }

    void upload(E2E::HttpClient& http, std::mt19937& rng, const std::string& cookie, int index,
                int serial) {
        const std::string content =
            uniqueContent("crash upload " + std::to_string(m_seed) + " " + std::to_string(index) +
                              " " + std::to_string(serial),
                          128 * 1024 + rng() % (1024 * 1024), static_cast<unsigned>(rng()));
        {
            std::lock_guard<std::mutex> lock(m_ledger.mutex);
            m_ledger.uploadsSent.insert(content);
        }
        const std::string boundary = "crashBoundary" + std::to_string(rng());
        const std::string body = "--" + boundary +
                                 "\r\nContent-Disposition: form-data; name=\"f\"; "
                                 "filename=\"same.bin\"\r\n\r\n" +
                                 content + "\r\n--" + boundary + "--\r\n";
        const E2E::Answer a = http.post(
            "/app/dapplinepro/upload?appname=dapplinepro&sharename=drop&dirname=drop/up", body,
            {{"Content-Type", "multipart/form-data; boundary=" + boundary}, {"Cookie", cookie}});
        if (a.status == 200 && a.body.find("FILE UPLOAD: OK") != std::string::npos) {
            std::lock_guard<std::mutex> lock(m_ledger.mutex);
            m_ledger.uploadsStored.push_back(content);
            ++m_confirmed;
            ++m_done[0];
        }
    }

    void put(E2E::HttpClient& http, std::mt19937& rng, const std::string& cookie, int index,
             int serial) {
        const std::string name = "f" + std::to_string(rng() % kPutNames) + ".bin";
        const std::string path = m_host.dropDir + "/dav/" + name;
        const std::string content =
            uniqueContent("crash put " + std::to_string(m_seed) + " " + std::to_string(index) +
                              " " + std::to_string(serial),
                          64 * 1024 + rng() % (512 * 1024), static_cast<unsigned>(rng()));
        std::size_t slot = 0;
        {
            std::lock_guard<std::mutex> lock(m_ledger.mutex);
            std::vector<PutRecord>& sent = m_ledger.puts[path];
            slot = sent.size();
            sent.push_back({content, ++m_ledger.clock, 0, false});
        }
        const E2E::Answer a = http.send("PUT", "/app/dapplinepro/share/drop/dav/" + name, content,
                                        {{"Cookie", cookie}});
        if (a.status == 201 || a.status == 204) {
            std::lock_guard<std::mutex> lock(m_ledger.mutex);
            PutRecord& put = m_ledger.puts[path][slot];
            put.settled = ++m_ledger.clock;
            put.confirmed = true;
            ++m_confirmed;
            ++m_done[1];
        }
    }

    void zip(E2E::HttpClient& http, const std::string& cookie) {
        const std::string folder = "/app/dapplinepro/share/drop/tozip/";
        const E2E::Answer started = http.get(folder + "?startzip=1", {{"Cookie", cookie}});
        const std::string id = E2E::xmlText(started.body, "id");
        if (id.empty())
            return;
        ++m_done[2];
        // Polled a few times, so that the kill finds builds at every stage.
        for (int i = 0; i < 40 && !m_stop; ++i) {
            const E2E::Answer status =
                http.get(folder + "?zipstatus=1&id=" + id, {{"Cookie", cookie}});
            if (E2E::xmlText(status.body, "finished") == "1")
                break;
        }
    }

    void owner(E2E::HttpClient& http, int index, int serial) {
        const std::string name = "c" + std::to_string(m_seed) + "x" + std::to_string(index) + "x" +
                                 std::to_string(serial);
        const std::string folder = m_host.host.root + "/owned/" + name;
        Poco::File(folder).createDirectories();
        const E2E::Answer added =
            http.post("/app/dapplinepro/addshare",
                      "sharelocation=" + folder + "&sharename=" + name + "&allowpublicaccess=0",
                      m_host.ownerHeaders());
        const std::string id = E2E::xmlText(added.body, "shareid");
        if (id.empty())
            return;
        {
            std::lock_guard<std::mutex> lock(m_ledger.mutex);
            m_ledger.sharesStored.insert(name);
            ++m_confirmed;
            ++m_done[3];
        }
        http.post(
            "/app/dapplinepro/updateshare",
            "shareid=" + id + "&sharename=" + name + "&sharelocation=" + folder + "&viewmode=MUSIC",
            m_host.ownerHeaders());
        if (serial % 2 == 0)
            return;
        // Once asked to go, the share may be gone even if the answer is not
        // seen (the kill may come in between).
        {
            std::lock_guard<std::mutex> lock(m_ledger.mutex);
            m_ledger.sharesStored.erase(name);
        }
        http.get("/app/dapplinepro/deleteshare?shareid=" + id, m_host.ownerHeaders());
    }

    StressHost& m_host;
    Ledger& m_ledger;
    unsigned m_seed;
    std::string m_cookie;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_confirmed{0};
    std::atomic<long> m_tried[4] = {{0}, {0}, {0}, {0}};
    std::atomic<long> m_done[4] = {{0}, {0}, {0}, {0}};
    std::vector<std::thread> m_threads;
};

bool hasPrefix(const std::string& path, const std::string& prefix) {
    return Poco::Path(path).getFileName().compare(0, prefix.size(), prefix) == 0;
}

// With the host dead: every final name holds whole content, and the
// databases open and pass their check.
void checkAfterKill(StressHost& h, Ledger& ledger, const std::string& zipFolder,
                    const std::map<std::string, std::string>& zipContent) {
    std::lock_guard<std::mutex> lock(ledger.mutex);
    const std::string up = h.dropDir + "/up";
    for (const std::string& file :
         Poco::File(up).exists() ? E2E::filesBelow(up) : std::vector<std::string>()) {
        if (hasPrefix(file, ".orvane-part-"))
            continue;
        EXPECT_TRUE(ledger.uploadsSent.count(E2E::readFile(up + "/" + file)))
            << "half a file under the final name " << file;
    }
    for (const auto& entry : ledger.puts) {
        if (!Poco::File(entry.first).exists())
            continue;
        const std::string now = E2E::readFile(entry.first);
        EXPECT_TRUE(std::any_of(entry.second.begin(), entry.second.end(),
                                [&](const PutRecord& put) { return put.content == now; }))
            << "half a file under the final name " << entry.first;
    }
    for (const std::string& zip : zipFilesBelow(zipFolder)) {
        try {
            EXPECT_TRUE(zipEntries(E2E::readFile(zip)) == zipContent) << zip;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "half a zip under the final name " << zip << ": " << e.what();
        }
    }
    const auto dbs = integrityOfDatabases(h.host.profileDir);
    EXPECT_TRUE(dbs.count(h.host.profileDir + "/plugindata/dapplinepro/dapplinepro.db"));
    for (const auto& db : dbs)
        EXPECT_EQ("ok", db.second) << db.first;
}

// Nothing confirmed is missing; returns how many confirmed items are.
int lostData(StressHost& h, Ledger& ledger) {
    std::lock_guard<std::mutex> lock(ledger.mutex);
    int lost = 0;
    std::map<std::string, int> stored;
    const std::string up = h.dropDir + "/up";
    for (const std::string& file :
         Poco::File(up).exists() ? E2E::filesBelow(up) : std::vector<std::string>())
        ++stored[E2E::readFile(up + "/" + file)];
    for (const std::string& content : ledger.uploadsStored) {
        if (stored[content] != 1) {
            ADD_FAILURE() << "confirmed upload stored " << stored[content] << " times";
            ++lost;
        }
    }
    for (const auto& entry : ledger.puts) {
        const std::set<std::string> possible = ledger.possibleContents(entry.second);
        if (!possible.empty() && !possible.count(E2E::readFile(entry.first))) {
            ADD_FAILURE() << "confirmed PUT of " << entry.first << " lost";
            ++lost;
        }
    }
    const std::string shares = h.client().get("/app/dapplinepro/getshares", h.ownerHeaders()).body;
    for (const std::string& name : ledger.sharesStored) {
        if (shares.find("<sharename>" + name + "</sharename>") == std::string::npos) {
            ADD_FAILURE() << "confirmed share " << name << " lost";
            ++lost;
        }
    }
    return lost;
}

void expectPluginWorks(StressHost& h) {
    E2E::HttpClient http = h.client();
    const E2E::Answer page = http.get(h.demoShare);
    EXPECT_EQ(200, page.status);
    EXPECT_NE(std::string::npos, page.body.find("hello.txt"));
    EXPECT_EQ("hello world\n", http.get(h.demoShare + "hello.txt").body);
    const E2E::Answer shares = http.get("/app/dapplinepro/getshares", h.ownerHeaders());
    EXPECT_EQ(200, shares.status);
    EXPECT_NO_THROW(parseXmlOrThrow(shares.body));
    EXPECT_NE(std::string::npos, shares.body.find("<sharename>drop</sharename>"));
}

}  // namespace

TEST(StressCrash, KilledHostStartsAgainWithNothingLost) {
    const int runs = static_cast<int>(envNumber("ORVANE_STRESS_CRASH_RUNS", 6));
    const unsigned seed = static_cast<unsigned>(
        envNumber("ORVANE_STRESS_SEED",
                  std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1)));
    std::cout << "crash: seed " << seed << " (ORVANE_STRESS_SEED=" << seed << " repeats it)"
              << std::endl;
    std::mt19937 rng(seed);
    StressHost h;
    h.keepLogAs("crash");
    const std::string zipFolder = h.dropDir + "/tozip";
    std::map<std::string, std::string> zipContent;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "part" + std::to_string(i) + ".bin";
        zipContent[name] = uniqueContent(name, 512 * 1024, 7u + i);
        E2E::writeNew(zipFolder + "/" + name, zipContent[name]);
    }
    Poco::File(h.dropDir + "/dav").createDirectories();
    Poco::File(h.dropDir + "/up").createDirectories();
    h.start();

    Ledger ledger;
    int sanitizerReports = 0, leftTransfers = 0, leftZips = 0, lost = 0;
    long confirmed = 0;
    for (int run = 1; run <= runs; ++run) {
        CrashRun crash(h, ledger, seed + static_cast<unsigned>(run));
        crash.clients(6);
        // The moment of the kill: anywhere from the first requests to well
        // into the transfers.
        const unsigned delay = 300 + rng() % 5700;
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        h.kill();
        crash.join();
        ledger.endRun();
        confirmed += crash.confirmed();
        std::cout << "crash: run " << run << " killed after " << delay << " ms: " << crash.tally()
                  << std::endl;
        sanitizerReports += Stress::sanitizerReports(h.errors()).count;

        for (const std::string& path : temporaryFilesBelow(h.host.root))
            (hasPrefix(path, ".orvane-part-") ? leftTransfers : leftZips)++;
        checkAfterKill(h, ledger, zipFolder, zipContent);

        h.start();
        for (const std::string& path : temporaryFilesBelow(h.host.root)) {
            if (hasPrefix(path, ".orvane-part-"))
                ADD_FAILURE() << "run " << run << ": not cleaned at start: " << path;
        }
        expectPluginWorks(h);
        lost += lostData(h, ledger);
        if (::testing::Test::HasFailure()) {
            std::cout << "crash: run " << run << " failed (seed " << seed << ")" << std::endl;
            break;
        }
    }
    std::vector<std::string> zipsLeft = temporaryFilesBelow(zipFolder);
    for (const std::string& zip : zipFilesBelow(zipFolder))
        zipsLeft.push_back(zip);
    EXPECT_EQ(0, h.stop());
    sanitizerReports += Stress::sanitizerReports(h.errors()).count;
    std::cout << "crash: " << runs << " runs, " << confirmed << " confirmed writes, " << lost
              << " lost; unfinished transfers left by kills " << leftTransfers
              << " (all removed at start); zip builds left by kills " << leftZips << ", "
              << zipsLeft.size() << " zip files still in the folder; ThreadSanitizer reports "
              << sanitizerReports << std::endl;
    EXPECT_EQ(0, lost);
    EXPECT_EQ(0, sanitizerReports);
    for (const std::string& zip : zipsLeft)
        ADD_FAILURE() << "zip left in the shared folder after the restarts: " << zip;
}
