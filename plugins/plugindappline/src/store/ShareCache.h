// The shares last read by name, each kept with the database's change count
// at the time it was read (SqliteDB::changeCount), so that a visitor's
// request does not query the table while nothing has been written since.
// Any thread; one mutex guards it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "core/Dappline.h"

namespace Orvane {
namespace Dappline {

class ShareCache {
public:
    // A copy of the share kept under name while the count was still
    // changeCount; null when there is none.
    DapplinePtr find(const std::string& name, std::uint64_t changeCount);
    // Keeps a copy of share, read in full after the count was changeCount;
    // every share kept under an older count goes.
    void keep(const std::string& name, std::uint64_t changeCount, const Dappline& share);

private:
    std::mutex m_mutex;
    std::uint64_t m_changeCount = 0;
    // Only shares found are kept: at most one entry per share.
    std::unordered_map<std::string, Dappline> m_shares;
};

}  // namespace Dappline
}  // namespace Orvane
