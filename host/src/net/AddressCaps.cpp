#include "net/AddressCaps.h"

namespace Orvane {
namespace Host {

void AddressCaps::configure(int perAddress, int total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capPerAddress = perAddress;
    m_capTotal = total;
}

bool AddressCaps::admit(const std::string& address, bool exempt) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_total >= m_capTotal)
        return false;
    if (!exempt && !addLocked(address))
        return false;
    ++m_total;
    return true;
}

void AddressCaps::release(const std::string& address, bool exempt) {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_total;
    if (!exempt)
        removeLocked(address);
}

bool AddressCaps::admitRequest(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return addLocked(address);
}

void AddressCaps::releaseRequest(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    removeLocked(address);
}

int AddressCaps::total() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_total;
}

bool AddressCaps::full() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_total >= m_capTotal;
}

bool AddressCaps::addLocked(const std::string& address) {
    int& count = m_perAddress[address];
    if (count >= m_capPerAddress) {
        if (count == 0)
            m_perAddress.erase(address);
        return false;
    }
    ++count;
    return true;
}

void AddressCaps::removeLocked(const std::string& address) {
    auto it = m_perAddress.find(address);
    if (it != m_perAddress.end() && --it->second <= 0)
        m_perAddress.erase(it);
}

}  // namespace Host
}  // namespace Orvane
