// The host's message bus: services register a message event under their name,
// and a posted message is delivered to the event named by its `target`.
// Dispatcher() fires the event on the posting thread; DeferredDispatcher()
// queues the message and fires it on one of its worker threads. Both are
// thread-safe; events are fired without any bus lock held.
#pragma once

#include <Poco/BasicEvent.h>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace System {

// What a service's event is fired with as its sender argument.
struct DeliveryContext {
    int deferred = 0;  // 1 when delivered by the deferred dispatcher's workers
};

// The clientAddress of the message being delivered on the calling thread
// ("" outside a delivery). Both dispatchers set it around each delivery and
// restore the outer one after a nested delivery, so a handler on a deferred
// worker sees the client of the message it handles, never another's.
const std::string& currentClientAddress();

class MessageEventInfo {
public:
    Poco::BasicEvent<boost::shared_ptr<Data::Message>> event;
};

class MessageDispatcher {
public:
    // Called after each deferred delivery returns, on the worker that ran it.
    typedef std::function<void(const boost::shared_ptr<Data::Message>&)> DeliveryHook;

    virtual ~MessageDispatcher() = default;
    // False when the name is taken.
    virtual bool registerService(const std::string& name,
                                 const boost::shared_ptr<MessageEventInfo>& info) = 0;
    virtual bool unregisterService(const std::string& name) = 0;
    virtual bool isRegistered(const std::string& name) const = 0;
    // False when no service of that name is registered (or the bus is stopped).
    virtual bool postMessage(boost::shared_ptr<Data::Message> msg) = 0;
};

}  // namespace System

System::MessageDispatcher* Dispatcher();
System::MessageDispatcher* DeferredDispatcher();

// Starts the deferred dispatcher's workers (idempotent); the default is 8.
void startDeferredDispatcher(int workers);
// Waits for queued deliveries to finish, then joins the workers.
void stopDeferredDispatcher();
// At most one hook; pass an empty function to remove it.
void setDeferredDeliveryHook(const System::MessageDispatcher::DeliveryHook& hook);
// True on the deferred dispatcher's own workers, where the delivery hook
// runs after every delivery.
bool onDeferredWorker();

}  // namespace Orvane
