#include "store/ShareCache.h"

namespace Orvane {
namespace Dappline {

DapplinePtr ShareCache::find(const std::string& name, std::uint64_t changeCount) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (changeCount != m_changeCount)
        return DapplinePtr();
    auto found = m_shares.find(name);
    if (found == m_shares.end())
        return DapplinePtr();
    // Callers may change what they get; the kept one stays as read.
    return DapplinePtr(new Dappline(found->second));
}

void ShareCache::keep(const std::string& name, std::uint64_t changeCount, const Dappline& share) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (changeCount != m_changeCount) {
        // A row read before a newer write must not replace what came after it.
        if (changeCount < m_changeCount)
            return;
        m_shares.clear();
        m_changeCount = changeCount;
    }
    m_shares[name] = share;
}

}  // namespace Dappline
}  // namespace Orvane
