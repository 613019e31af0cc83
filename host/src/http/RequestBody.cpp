#include "http/RequestBody.h"

#include <Poco/Net/NetException.h>

namespace Orvane {
namespace Host {

bool RequestBody::announcesBody(const Poco::Net::HTTPServerRequest& request) {
    return request.getChunkedTransferEncoding() ||
           (request.hasContentLength() && request.getContentLength64() > 0);
}

bool RequestBody::discard(Poco::Net::HTTPServerRequest& request, std::size_t limit) {
    if (request.hasContentLength() &&
        request.getContentLength64() > static_cast<Poco::Int64>(limit)) {
        return false;
    }
    std::istream& in = request.stream();
    char buffer[8192];
    std::size_t dropped = 0;
    while (in && dropped <= limit) {
        in.read(buffer, sizeof(buffer));
        if (in.gcount() <= 0)
            break;
        dropped += static_cast<std::size_t>(in.gcount());
    }
    return dropped <= limit && in.eof();
}

std::string RequestBody::read(Poco::Net::HTTPServerRequest& request, std::size_t limit) {
    if (request.hasContentLength() &&
        request.getContentLength64() > static_cast<Poco::Int64>(limit)) {
        throw BodyTooLarge();
    }
    std::string body;
    std::istream& in = request.stream();
    char buffer[8192];
    while (in) {
        in.read(buffer, sizeof(buffer));
        std::streamsize n = in.gcount();
        if (n <= 0)
            break;
        if (body.size() + static_cast<std::size_t>(n) > limit)
            throw BodyTooLarge();
        body.append(buffer, static_cast<std::size_t>(n));
    }
    // A body cut short (the client left, or broke the chunked framing) is no
    // form: what arrived must not be taken for the whole.
    if (in.bad())
        throw Poco::Net::ConnectionResetException("the request body ended early");
    return body;
}

}  // namespace Host
}  // namespace Orvane
