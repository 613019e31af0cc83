// Writes a plug-in's "SYNC" reply as the HTTP response: status, content
// type, "Cache-Control", a rebuilt "Content-Disposition", and the raw data
// as body; a reply that names an authentication realm becomes 401 with a
// Basic challenge. Replies naming "SEND_FILE" go to FileSender instead.
// Stateless, thread-safe.
#pragma once

#include <Poco/Net/HTTPServerResponse.h>

#include "orvane/Message.h"

namespace Orvane {
namespace Host {

class ReplyWriter {
public:
    static void write(const Data::Message& reply, Poco::Net::HTTPServerResponse& response);
    // Content type, cache control and disposition of the reply, each cleaned.
    static void applyHeaders(const Data::Message& reply, Poco::Net::HTTPServerResponse& response);
    static bool hasRealm(const Data::Message& reply);
    static bool namesFile(const Data::Message& reply);
    // The reply's status, kept within 200..599 (others become 500).
    static int status(const Data::Message& reply);
};

}  // namespace Host
}  // namespace Orvane
