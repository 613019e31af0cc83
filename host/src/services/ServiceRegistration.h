// A host service's place on the bus: its name on the global dispatcher and
// the event the dispatcher delivers to, hooked to the service's handler.
// start and stop come from one thread (the main thread, or a test's); the
// handler runs on bus threads, several at once.
#pragma once

#include <boost/shared_ptr.hpp>
#include <functional>
#include <string>

#include "orvane/Dispatcher.h"

namespace Orvane {
namespace Host {

class ServiceRegistration {
public:
    typedef boost::shared_ptr<Data::Message> MessagePtr;
    typedef std::function<void(MessagePtr&)> Handler;

    explicit ServiceRegistration(const std::string& name);
    // Unregisters, as stop() does.
    ~ServiceRegistration();
    ServiceRegistration(const ServiceRegistration&) = delete;
    ServiceRegistration& operator=(const ServiceRegistration&) = delete;

    // Registers under the name; throws Orvane::Exception when it is taken.
    void start(const Handler& handler);
    // Unregisters; does nothing when not registered.
    void stop();
    bool started() const { return m_started; }

private:
    void onMessage(const void* sender, MessagePtr& msg);

    std::string m_name;
    Handler m_handler;
    boost::shared_ptr<System::MessageEventInfo> m_event;
    bool m_started = false;
};

}  // namespace Host
}  // namespace Orvane
