// "SyncProxyService" on the bus: takes the plug-ins' "SYNC" replies and wakes
// the front request waiting for the token. It also watches each deferred
// delivery and answers 403 for a request that the plug-in's handler left
// without an answer and without passing it on. Callbacks come from bus
// threads; start and stop from the main thread.
#pragma once

#include <boost/shared_ptr.hpp>

#include "bridge/PendingReplies.h"
#include "services/ServiceRegistration.h"

namespace Orvane {
namespace Host {

class SyncProxyService {
public:
    explicit SyncProxyService(PendingReplies& pending);
    ~SyncProxyService();

    // Registers on the global dispatcher and installs the delivery hook.
    void start();
    void stop();

private:
    typedef boost::shared_ptr<Data::Message> MessagePtr;

    void onMessage(MessagePtr& msg);
    void afterDeferredDelivery(const MessagePtr& msg);

    PendingReplies& m_pending;
    ServiceRegistration m_registration;
};

}  // namespace Host
}  // namespace Orvane
