// The concurrency suite's load: client threads, each with its own
// keep-alive connection, mixing share page views, thumbnails and slides of
// the same pictures, ranged downloads, folder zips, uploads of one name into
// one folder and the owner's share operations, every answer checked as it
// comes. The tallies, the failures and the stored uploads are guarded by
// one mutex; run() may be called again for a later phase.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "StressHost.h"

namespace Stress {

class LoadMix {
public:
    enum Kind { PAGE, PICTURE, RANGE, ZIP, UPLOAD, OWNER, KINDS };
    static const char* kindName(int kind);

    LoadMix(StressHost& host, unsigned seed);

    // `clients` threads until `duration` has passed; each finishes the
    // operation it is in.
    void run(int clients, std::chrono::seconds duration);

    long requests(int kind) const;
    long failures(int kind) const;
    long totalRequests() const;
    long totalFailures() const;
    std::vector<std::string> failureTexts() const;
    // The contents of every upload the host accepted.
    std::vector<std::string> uploads() const;
    // Picture name -> the size keys ("t0", "v1", ...) asked for.
    std::map<std::string, std::set<std::string>> pictureSizes() const;
    // Every size key with the query that asks for it.
    static std::vector<std::pair<std::string, std::string>> sizeQueries();

private:
    struct Client;
    void clientLoop(int index, unsigned seed, std::chrono::steady_clock::time_point end);
    void one(Client& c);
    void page(Client& c);
    void picture(Client& c);
    void range(Client& c);
    void zip(Client& c);
    void upload(Client& c);
    void owner(Client& c);
    void count(int kind, int requests);
    void fail(int kind, const std::string& what);
    void samePicture(const std::string& key, const std::string& data);

    StressHost& m_host;
    unsigned m_seed;
    std::string m_cookie;
    int m_phase = 0;
    std::atomic<long> m_requests[KINDS];
    std::atomic<long> m_failures[KINDS];
    std::atomic<int> m_ownerSerial{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_failureTexts;
    std::vector<std::string> m_uploads;
    std::map<std::string, std::string> m_pictureBytes;
    std::map<std::string, std::set<std::string>> m_pictureSizes;
};

}  // namespace Stress
