// Building messages: new requests, HTTP answers and host timer requests.
// Stateless, thread-safe.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace Util {

class MessageUtil {
public:
    typedef boost::shared_ptr<Data::Message> MessagePtr;

    static MessagePtr createNewMessage(const std::string& service, const std::string& operation);
    // Status and content type in section "HTTPResponse".
    static void addHTTPResponse(MessagePtr& msg, int status, const std::string& contentType);
    // repeats -1 means without end.
    static MessagePtr createNewTimerStartMessage(const std::string& service,
                                                 const std::string& tag, long intervalMs,
                                                 int repeats);
    static MessagePtr createNewTimerStopMessage(const std::string& service,
                                                const std::string& tag);
    static int getHTTPStatus(const Data::Message& msg);
};

}  // namespace Util
}  // namespace Orvane
