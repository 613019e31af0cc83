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
    Outcome outcome;
    {
        std::unique_lock<std::mutex> lock(slot->mutex);
        slot->done.wait_for(lock, timeout, [&] { return slot->finished; });
        if (!slot->finished) {
            slot->finished = true;
            slot->outcome.hostStatus = 504;
        }
        outcome = slot->outcome;
    }
    close(slot);
    return outcome;
}

void PendingReplies::close(const SlotPtr& slot) {
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        slot->finished = true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_slots.find(slot->token);
    if (it != m_slots.end() && it->second == slot)
        m_slots.erase(it);
}

bool PendingReplies::deliver(const std::string& token, const MessagePtr& reply) {
    const SlotPtr slot = find(token);
    Outcome outcome;
    outcome.reply = reply;
    return slot && finish(*slot, outcome);
}

bool PendingReplies::answer(const std::string& token, const std::string& target, int status) {
    const SlotPtr slot = find(token);
    if (!slot || slot->target != target)
        return false;
    Outcome outcome;
    outcome.hostStatus = status;
    return finish(*slot, outcome);
}

void PendingReplies::answerAll(int status) {
    std::map<std::string, SlotPtr> slots;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closedStatus = status;
        slots = m_slots;
    }
    Outcome outcome;
    outcome.hostStatus = status;
    for (auto& entry : slots)
        finish(*entry.second, outcome);
}

std::size_t PendingReplies::size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slots.size();
}

PendingReplies::SlotPtr PendingReplies::find(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_slots.find(token);
    return it == m_slots.end() ? SlotPtr() : it->second;
}

bool PendingReplies::finish(Slot& slot, const Outcome& outcome) {
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        if (slot.finished)
            return false;
        slot.outcome = outcome;
        slot.finished = true;
    }
    slot.done.notify_one();
    return true;
}

}  // namespace Host
}  // namespace Orvane
