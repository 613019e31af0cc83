// Counts the open connections, in all and per client address, against the
// two caps. A direct connection is counted from accept to close; behind a
// trusted proxy (whose own connections count only in the total), each
// request counts for its forwarded client while it is served. Thread-safe.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

namespace Orvane {
namespace Host {

class AddressCaps {
public:
    void configure(int perAddress, int total);

    // Counts one more connection; false, counting nothing, when it would go
    // over a cap. A proxy (`exempt`) counts only in the total.
    bool admit(const std::string& address, bool exempt);
    void release(const std::string& address, bool exempt);
    // The same for one request served for a client behind a proxy.
    bool admitRequest(const std::string& address);
    void releaseRequest(const std::string& address);
    int total() const;
    // True when the total cap is reached.
    bool full() const;

private:
    bool addLocked(const std::string& address);
    void removeLocked(const std::string& address);

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, int> m_perAddress;
    int m_total = 0;
    int m_capPerAddress = 64;
    int m_capTotal = 10000;
};

}  // namespace Host
}  // namespace Orvane
