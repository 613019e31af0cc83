// The requests of the web front that wait for their "SYNC" reply, by token.
// A front thread opens a slot, posts its request and waits, or leaves a
// continuation and goes on with other work; the sync proxy service (any
// bus thread) hands the reply over, or the host itself answers (403 for a
// silent refusal, 503 at shutdown, 504 past the deadline). A continuation
// released on a deferred worker runs when that worker's delivery is over
// (runReleased), never inside the plug-in's handler. Thread-safe.
#pragma once

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace Host {

class PendingReplies {
public:
    typedef boost::shared_ptr<Data::Message> MessagePtr;
    typedef std::chrono::steady_clock Clock;

    // How a wait ended: a reply, or a status the host answers with itself.
    struct Outcome {
        MessagePtr reply;
        int hostStatus = 0;
    };

    // Each wait has a lock of its own: many requests wait at once, and a
    // reply must wake only its own.
    typedef std::function<void(const Outcome&)> Then;

    struct Slot {
        std::string token;
        std::string target;  // the service the request was posted to
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;  // under mutex
        Outcome outcome;        // under mutex
        Then then;              // under mutex
        Clock::time_point deadline;
    };
    typedef std::shared_ptr<Slot> SlotPtr;

    // Null once answerAll has closed the table.
    SlotPtr open(const std::string& token, const std::string& target);
    // Waits at most `timeout`; a request left unanswered ends with 504. The
    // slot is closed afterwards, so a late reply finds no one.
    Outcome wait(const SlotPtr& slot, std::chrono::milliseconds timeout);
    void close(const SlotPtr& slot);
    // Instead of wait(): `then` gets the outcome on the thread that ends
    // the wait, or at once here when it has ended already.
    void expect(const SlotPtr& slot, Clock::time_point deadline, Then then);
    // Ends with 504 the expected waits past their deadline.
    void expire();
    // Runs the continuations released on this thread by its delivery.
    static void runReleased();

    // False when nobody waits for the token (any more).
    bool deliver(const std::string& token, const MessagePtr& reply);
    // Answers `status` for a request that is still waiting and was posted to
    // `target`; false otherwise.
    bool answer(const std::string& token, const std::string& target, int status);
    // Ends every wait with `status` and opens no more slots (shutting down).
    void answerAll(int status);
    std::size_t size();

private:
    SlotPtr find(const std::string& token);
    // False when the slot had already finished.
    bool finish(const SlotPtr& slot, const Outcome& outcome);
    static void release(Then then, const Outcome& outcome);

    std::mutex m_mutex;
    std::map<std::string, SlotPtr> m_slots;
    int m_closedStatus = 0;
};

}  // namespace Host
}  // namespace Orvane
