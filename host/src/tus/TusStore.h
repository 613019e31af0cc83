// The resumable uploads of this host: a record and a part file each in the
// profile's "tus" folder, and in memory the entry that the requests of an
// upload share. Opened when the front starts: the uploads of an earlier run
// are taken up again with their room re-claimed, expired ones removed, and
// what a crash left half made (a record without its part, a part without
// its record, a record being rewritten) removed. A thread of its own
// removes uploads as they expire; a request never sees an expired one.
// Every member is thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "tus/TusEntry.h"

namespace Orvane {
namespace Host {

class TusStore {
public:
    static TusStore& instance();
    ~TusStore();

    // The profile's folder and its "tus.expiry.hours" (default 24); throws
    // Orvane::Exception naming the key for a value it cannot use.
    void openProfile();
    void open(const std::string& folder, std::chrono::seconds expiry);
    std::chrono::seconds expiry() const;

    // A new upload's id: 128 random bits in hex.
    static std::string newId();
    // Records a new upload (its record holds a newId()) with an empty part and the
    // room claimed for it. Throws WriteFailure when the profile cannot take it.
    TusEntryPtr create(TusRecord record, Storage::SpaceReservation room);
    // The upload of that id, unless there is none or it has expired.
    TusEntryPtr find(const std::string& id);
    // Ends the upload: its files go and its room is given back. Requests
    // still holding the entry stop at their next chunk.
    void remove(const TusEntryPtr& entry);
    // Writes the entry's record again with a new expiry (after bytes
    // arrived). The caller holds the entry's lock.
    void touch(TusEntry& entry);
    // The upload is in place at `placed`: its part goes, its record stays
    // (done) until it expires, so that a client that missed the last answer
    // learns from HEAD that it is complete. The caller holds the lock.
    void finish(TusEntry& entry, const std::string& placed);
    std::string partPath(const std::string& id) const;
    // Removes the expired uploads; how many.
    int prune();

private:
    TusStore() = default;
    void load(const std::string& name);
    void takeUp(const TusRecord& record);
    std::string recordPath(const std::string& id) const;
    void removeFiles(const std::string& id) const;
    std::int64_t expiresFromNow() const;
    void startPruner();
    void runPruner();

    mutable std::mutex m_mutex;
    std::string m_folder;
    std::chrono::seconds m_expiry{24 * 3600};
    std::map<std::string, TusEntryPtr> m_entries;
    std::condition_variable m_wake;
    std::thread m_pruner;
    bool m_stopping = false;
};

}  // namespace Host
}  // namespace Orvane
