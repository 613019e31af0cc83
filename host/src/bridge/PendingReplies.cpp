#include "bridge/PendingReplies.h"

namespace Orvane {
namespace Host {

PendingReplies::SlotPtr PendingReplies::open(const std::string& token, const std::string& target) {
    SlotPtr slot = std::make_shared<Slot>();
    slot->token = token;
    slot->target = target;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closedStatus != 0)
        return SlotPtr();
    m_slots[token] = slot;
    return slot;
}

PendingReplies::Outcome PendingReplies::wait(const SlotPtr& slot,
                                             std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    slot->done.wait_for(lock, timeout, [&] { return slot->finished; });
    if (!slot->finished) {
        slot->finished = true;
        slot->outcome.hostStatus = 504;
    }
    m_slots.erase(slot->token);
    return slot->outcome;
}

void PendingReplies::close(const SlotPtr& slot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    slot->finished = true;
    m_slots.erase(slot->token);
}

bool PendingReplies::deliver(const std::string& token, const MessagePtr& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_slots.find(token);
    if (it == m_slots.end() || it->second->finished)
        return false;
    Outcome outcome;
    outcome.reply = reply;
    finish(*it->second, outcome);
    return true;
}

bool PendingReplies::answer(const std::string& token, const std::string& target, int status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_slots.find(token);
    if (it == m_slots.end() || it->second->finished || it->second->target != target)
        return false;
    Outcome outcome;
    outcome.hostStatus = status;
    finish(*it->second, outcome);
    return true;
}

void PendingReplies::answerAll(int status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closedStatus = status;
    Outcome outcome;
    outcome.hostStatus = status;
    for (auto& entry : m_slots) {
        if (!entry.second->finished)
            finish(*entry.second, outcome);
    }
}

std::size_t PendingReplies::size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slots.size();
}

void PendingReplies::finish(Slot& slot, const Outcome& outcome) {
    slot.outcome = outcome;
    slot.finished = true;
    slot.done.notify_all();
}

}  // namespace Host
}  // namespace Orvane
