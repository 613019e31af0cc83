// Reads a request body into memory, up to a limit (form posts are small).
// Used on the request's own thread.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace Orvane {
namespace Host {

class BodyTooLarge : public std::runtime_error {
public:
    BodyTooLarge() : std::runtime_error("request body too large") {}
};

class RequestBody {
public:
    static const std::size_t kMaxBytes = 1024 * 1024;

    // Throws BodyTooLarge for a body above `limit`, announced or read, and
    // Poco::Net::ConnectionResetException for one that ended early.
    static std::string read(Poco::Net::HTTPServerRequest& request, std::size_t limit = kMaxBytes);
    // Reads and drops what is left of the body, at most `limit` bytes, so
    // that the client sees the answer instead of a reset connection. True
    // when the body ended within the limit.
    static bool discard(Poco::Net::HTTPServerRequest& request, std::size_t limit);
    // True when the request announces a body (length above 0 or chunked).
    static bool announcesBody(const Poco::Net::HTTPServerRequest& request);
};

}  // namespace Host
}  // namespace Orvane
