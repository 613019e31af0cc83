#include "services/ServiceRegistration.h"

#include <Poco/Delegate.h>

#include "orvane/Exception.h"

namespace Orvane {
namespace Host {

ServiceRegistration::ServiceRegistration(const std::string& name) : m_name(name) {}

ServiceRegistration::~ServiceRegistration() {
    stop();
}

void ServiceRegistration::start(const Handler& handler) {
    m_handler = handler;
    m_event.reset(new System::MessageEventInfo());
    m_event->event += Poco::delegate(this, &ServiceRegistration::onMessage);
    if (!Orvane::Dispatcher()->registerService(m_name, m_event))
        throw Orvane::Exception("The service name " + m_name + " is taken");
    m_started = true;
}

void ServiceRegistration::stop() {
    if (!m_started)
        return;
    Orvane::Dispatcher()->unregisterService(m_name);
    m_event->event -= Poco::delegate(this, &ServiceRegistration::onMessage);
    m_started = false;
}

void ServiceRegistration::onMessage(const void*, MessagePtr& msg) {
    m_handler(msg);
}

}  // namespace Host
}  // namespace Orvane
