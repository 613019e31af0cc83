// One resumable upload while the host runs: its record, the bytes its part
// holds, the room it holds in its share and which request may append now.
// Shared by the store and the requests of the upload; `mutex` guards every
// member. A request that resumes takes over from one still waiting on a
// dead connection: it bumps `writer`, and the old one stops at its next
// chunk without writing it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "orvane/storage/SpaceReservation.h"
#include "tus/TusRecord.h"

namespace Orvane {
namespace Host {

struct TusEntry {
    std::mutex mutex;
    TusRecord record;
    std::uint64_t offset = 0;
    // The request allowed to append; bumped by each new PATCH, by the end
    // of the upload and by its removal.
    std::uint64_t writer = 0;
    bool gone = false;  // removed from the store
    // Held from creation until the file is in place or the upload ends;
    // re-made at start for the uploads of an earlier run.
    Storage::SpaceReservation room;
};

typedef std::shared_ptr<TusEntry> TusEntryPtr;

}  // namespace Host
}  // namespace Orvane
