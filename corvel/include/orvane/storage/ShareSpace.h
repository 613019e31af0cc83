// The room each share's folder takes, kept in memory so that deciding an
// upload costs the same at a thousand files as at a million: a share's
// folder is walked once when first asked about, then kept right by the
// writes the host makes (each reserves its room first and settles what it
// stored), and walked again in the background at most once a minute to
// catch what changed behind the host's back. Writes in progress hold
// reservations, so parallel writers cannot all take the same last bytes;
// a resumable upload keeps its reservation (an id) across requests.
// One instance per process (libcorvel is shared by the host and the
// plug-ins); every member is thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Storage {

class ShareSpace {
public:
    // Names of transfers in progress (the host's temporary files): their
    // bytes are held by reservations, so a walk leaves them out.
    static constexpr const char* TRANSFER_PREFIX = ".orvane-part-";
    // A share is walked again at most this often.
    static constexpr int REWALK_SECONDS = 60;

    static ShareSpace& instance();

    // Bytes of the share whose folder is `root`, with the room its writes in
    // progress hold. The first question walks the folder (other callers
    // wait for that walk); a walk older than a minute is redone in the
    // background while the known figure answers. Throws Poco::Exception
    // when the folder cannot be read at that first walk.
    std::int64_t used(const std::string& root);
    // True when `bytes` more fit under `limit` (bytes, 0: none): what
    // the share holds plus them does not exceed it. Never walks without a
    // limit.
    bool fits(const std::string& root, std::int64_t limit, std::int64_t bytes);

    // Reserves `bytes` in the share at `root` whose limit is `limit` (0:
    // none). The id of the reservation, or 0 when they do not fit. Only
    // limited shares are ever walked.
    std::uint64_t reserve(const std::string& root, std::int64_t limit, std::int64_t bytes);
    // Grows the reservation to `total` bytes (never shrinks it); false,
    // with the reservation as it was, when that does not fit.
    bool extend(std::uint64_t id, std::int64_t total);
    // Ends the reservation: the share now holds `stored` bytes more (less
    // when negative: a replaced file was larger), 0 when nothing was kept.
    void settle(std::uint64_t id, std::int64_t stored);
    // The share's folder lost or gained bytes by a change of the host's
    // that needed no reservation (a removal, a move out).
    void changed(const std::string& root, std::int64_t bytes);
    // Forgets what is known of the share, so that the next question walks
    // it again, for a folder known to have changed behind the host's back.
    void forget(const std::string& root);

    // The bytes of the regular files below `folder` at any depth, hidden
    // ones too (transfers in progress left out). Links to folders are
    // followed, each folder counted once and never one holding `folder`, so
    // a loop ends. Throws Poco::Exception when `folder` is not a folder that
    // can be read; entries that vanish or cannot be read count nothing.
    static std::int64_t measure(const std::string& folder);
    // What a copy of `path` writes: a regular file's size, or the files
    // below a folder without following links (copies leave links out); 0
    // for anything else or nothing there.
    static std::int64_t sizeOf(const std::string& path);

private:
    struct Entry {
        bool known = false;            // total is a walk's result, kept up to date
        bool walking = false;          // a walk of the folder is under way
        std::uint64_t generation = 0;  // bumped by forget(): a walk under way is stale
        std::uint64_t walkGeneration = 0;
        std::int64_t total = 0;     // bytes stored
        std::int64_t reserved = 0;  // bytes held by writes in progress
        // Bytes stored while the walk ran, which it may not have seen.
        std::int64_t grownDuringWalk = 0;
        std::chrono::steady_clock::time_point walkedAt;
    };
    struct Claim {
        std::string root;
        std::int64_t limit = 0;
        std::int64_t bytes = 0;
    };

    ShareSpace() = default;
    ShareSpace(const ShareSpace&) = delete;
    ShareSpace& operator=(const ShareSpace&) = delete;

    static std::string keyOf(const std::string& root);
    // The share's entry with a known total, walking it first if need be;
    // schedules the background walk when the last one is old.
    Entry& knownEntry(std::unique_lock<std::mutex>& lock, const std::string& key);
    void startWalk(Entry& entry);
    void finishWalk(Entry& entry, bool ok, std::int64_t size);
    void scheduleIfOld(const std::string& key, Entry& entry);
    void apply(Entry& entry, std::int64_t bytes);
    void walkInBackground();

    std::mutex m_mutex;
    std::condition_variable m_walked;
    std::condition_variable m_queued;
    std::map<std::string, Entry> m_entries;
    std::map<std::uint64_t, Claim> m_claims;
    std::uint64_t m_nextId = 1;
    std::deque<std::string> m_queue;
    bool m_walkerStarted = false;
};

}  // namespace Storage
}  // namespace Orvane
