// Writes a plug-in's "SYNC" reply as the HTTP response: status, content
// type, "Cache-Control", a rebuilt "Content-Disposition", and the raw data
// as body; a reply that names an authentication realm becomes 401 with a
// Basic challenge. Replies naming "SEND_FILE" go to FileSender instead.
// Stateless, thread-safe.
#pragma once

#include <Poco/Net/HTTPServerResponse.h>

#include <cstddef>
#include <string>

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
    // The file a "SEND_FILE" reply names; empty for any other.
    static std::string fileOf(const Data::Message& reply);
    // Bytes of the reply's own body.
    static std::size_t bodySize(const Data::Message& reply);
    // The reply's status, kept within 200..599 (others become 500).
    static int status(const Data::Message& reply);
    // Sends the body of a refusal whose headers are set: the plug-in
    // refuses with its page and status 200, so that becomes 403, while an
    // error status of its own (404 for a missing folder, which the explorer
    // tells apart) stays.
    static void sendRefusal(const Data::Message& reply, Poco::Net::HTTPServerResponse& response);
};

}  // namespace Host
}  // namespace Orvane
