// The host's timer service on the real bus, in this process: ticks as the
// owner with location 100, the repeat count, and stopping.
#include <gtest/gtest.h>

#include <Poco/Delegate.h>

#include <mutex>
#include <vector>

#include "HostProcess.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/MessageUtil.h"
#include "services/TimerService.h"

using namespace Orvane;

namespace {

class Probe {
public:
    Probe() : m_event(new System::MessageEventInfo()) {
        m_event->event += Poco::delegate(this, &Probe::onMessage);
        Orvane::Dispatcher()->registerService("timer-probe", m_event);
    }
    ~Probe() {
        Orvane::Dispatcher()->unregisterService("timer-probe");
        m_event->event -= Poco::delegate(this, &Probe::onMessage);
    }
    std::vector<Data::MessagePtr> messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }

private:
    void onMessage(const void*, Data::MessagePtr& msg) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(msg);
    }
    boost::shared_ptr<System::MessageEventInfo> m_event;
    std::mutex m_mutex;
    std::vector<Data::MessagePtr> m_messages;
};

}  // namespace

TEST(TimerService, TicksAsTheOwnerForTheRepeatCountThenForgetsTheTimer) {
    Host::TimerService timers;
    timers.start();
    Probe probe;
    ASSERT_TRUE(Orvane::Dispatcher()->postMessage(
        Util::MessageUtil::createNewTimerStartMessage("timer-probe", "TAG", 15, 3)));
    ASSERT_TRUE(E2E::pollUntil([&] { return probe.messages().size() >= 3; }));
    ASSERT_TRUE(E2E::pollUntil([&] { return timers.activeTimers() == 0; }));
    auto ticks = probe.messages();
    EXPECT_EQ(3u, ticks.size());
    for (const auto& tick : ticks) {
        EXPECT_EQ(Defs::Timer::MO_TIMER, tick->operation);
        EXPECT_EQ(100, tick->authSource);
        EXPECT_EQ(100, tick->authRole);
        EXPECT_EQ(100, tick->authLocation);
        EXPECT_EQ("TAG", (*tick)[Defs::Timer::MS_TIMER][Defs::Timer::S_TIMER_TAG].getString());
    }
    timers.stop();
}

TEST(TimerService, StopMessageEndsAnEndlessTimer) {
    Host::TimerService timers;
    timers.start();
    Probe probe;
    Orvane::Dispatcher()->postMessage(
        Util::MessageUtil::createNewTimerStartMessage("timer-probe", "ENDLESS", 15, -1));
    ASSERT_TRUE(E2E::pollUntil([&] { return probe.messages().size() >= 2; }));
    EXPECT_EQ(1u, timers.activeTimers());
    Orvane::Dispatcher()->postMessage(
        Util::MessageUtil::createNewTimerStopMessage("timer-probe", "ENDLESS"));
    EXPECT_EQ(0u, timers.activeTimers());
    // A timer with no interval worth the name is refused.
    Orvane::Dispatcher()->postMessage(
        Util::MessageUtil::createNewTimerStartMessage("timer-probe", "ZERO", 0, -1));
    EXPECT_EQ(0u, timers.activeTimers());
    timers.stop();
}
