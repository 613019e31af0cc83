#include "bridge/PendingReplies.h"

#include <utility>
#include <vector>

#include "orvane/Dispatcher.h"

namespace Orvane {
namespace Host {

namespace {

typedef std::vector<std::pair<PendingReplies::Then, PendingReplies::Outcome>> Released;

Released& released() {
    thread_local Released waiting;
    return waiting;
}

}  // namespace

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

void PendingReplies::expect(const SlotPtr& slot, Clock::time_point deadline, Then then) {
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        if (!slot->finished) {
            slot->then = std::move(then);
            slot->deadline = deadline;
            return;
        }
        outcome = slot->outcome;
    }
    close(slot);
    then(outcome);
}

void PendingReplies::expire() {
    const Clock::time_point now = Clock::now();
    std::vector<SlotPtr> late;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& entry : m_slots) {
            Slot& slot = *entry.second;
            std::lock_guard<std::mutex> slotLock(slot.mutex);
            if (slot.then && !slot.finished && slot.deadline <= now)
                late.push_back(entry.second);
        }
    }
    Outcome outcome;
    outcome.hostStatus = 504;
    for (const SlotPtr& slot : late)
        finish(slot, outcome);
}

void PendingReplies::runReleased() {
    Released& waiting = released();
    while (!waiting.empty()) {
        Released now;
        now.swap(waiting);
        for (auto& entry : now)
            entry.first(entry.second);
    }
}

void PendingReplies::release(Then then, const Outcome& outcome) {
    // Inside a deferred delivery the plug-in's handler is still on the
    // stack, maybe holding its locks: the answer waits until it returns.
    if (Orvane::onDeferredWorker()) {
        released().emplace_back(std::move(then), outcome);
    } else {
        then(outcome);
    }
}

bool PendingReplies::deliver(const std::string& token, const MessagePtr& reply) {
    const SlotPtr slot = find(token);
    Outcome outcome;
    outcome.reply = reply;
    return slot && finish(slot, outcome);
}

bool PendingReplies::answer(const std::string& token, const std::string& target, int status) {
    const SlotPtr slot = find(token);
    if (!slot || slot->target != target)
        return false;
    Outcome outcome;
    outcome.hostStatus = status;
    return finish(slot, outcome);
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
        finish(entry.second, outcome);
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

bool PendingReplies::finish(const SlotPtr& slot, const Outcome& outcome) {
    Then then;
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        if (slot->finished)
            return false;
        slot->outcome = outcome;
        slot->finished = true;
        then.swap(slot->then);
    }
    if (!then) {
        slot->done.notify_one();
        return true;
    }
    close(slot);
    release(std::move(then), outcome);
    return true;
}

}  // namespace Host
}  // namespace Orvane
