#include "ExplorerService.h"

#include <Poco/Delegate.h>

#include "UserManagerService.h"
#include "orvane/Exception.h"
#include "orvane/HTTPUtil.h"

namespace Orvane {
namespace Host {

namespace {
const char* const SERVICE_NAME = "explorer";
}

ExplorerService::ExplorerService() {}

ExplorerService::~ExplorerService() {
    stop();
}

void ExplorerService::start() {
    m_event.reset(new System::MessageEventInfo());
    m_event->event += Poco::delegate(this, &ExplorerService::onMessage);
    if (!Orvane::Dispatcher()->registerService(SERVICE_NAME, m_event))
        throw Orvane::Exception("The service name explorer is taken");
    m_started = true;
}

void ExplorerService::stop() {
    if (!m_started)
        return;
    Orvane::Dispatcher()->unregisterService(SERVICE_NAME);
    m_event->event -= Poco::delegate(this, &ExplorerService::onMessage);
    m_started = false;
}

// Not built yet: every operation is refused, so nothing pretends to work.
void ExplorerService::onMessage(const void*, MessagePtr& msg) {
    UserManagerService::answer(
        msg, 403, "text/xml; charset=utf-8",
        Util::HTTP::getXMLResult(msg->operation, false, "This feature is not available yet"));
}

}  // namespace Host
}  // namespace Orvane
