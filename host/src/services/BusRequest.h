// What the host's bus services share about a request that a plug-in passed
// on to them: whether the plug-in's guest check allowed it, and the "SYNC"
// reply that answers the front request waiting for its token. Stateless;
// any thread.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace Host {

class BusRequest {
public:
    typedef boost::shared_ptr<Data::Message> MessagePtr;

    // "GUESTACCESS"/"ALLOW" is 1.
    static bool isAllowed(const Data::Message& request);
    // A reply from `sender` to "SyncProxyService" with the request's token
    // and the HTTP response's status and content type; the caller adds the
    // rest and posts it.
    static MessagePtr reply(const Data::Message& request, const std::string& sender, int status,
                            const std::string& contentType);
};

}  // namespace Host
}  // namespace Orvane
