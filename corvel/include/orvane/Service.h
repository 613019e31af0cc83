// The abstract base of every service the host loads. The host calls, in
// order: constructor, init, startup, message deliveries, shutdown, destructor;
// the lifecycle calls come from one thread, deliveries from bus threads.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "orvane/Dispatcher.h"
#include "orvane/Message.h"

namespace Orvane {
namespace System {

class Service {
public:
    virtual ~Service() = default;
    virtual bool init(const std::string& pluginDir) = 0;
    virtual const std::string& name() const = 0;
    virtual bool startup(MessageDispatcher* dispatcher) = 0;
    virtual bool shutdown() = 0;
    virtual void onMessage(const void* sender, boost::shared_ptr<Data::Message>& msg) = 0;

    MessageDispatcher* dispatcher() const { return m_dispatcher; }

protected:
    MessageDispatcher* m_dispatcher = nullptr;
};

}  // namespace System
}  // namespace Orvane
