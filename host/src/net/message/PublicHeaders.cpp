#include "net/message/PublicHeaders.h"

namespace Orvane {
namespace Host {

namespace {

void setIfAbsent(Poco::Net::HTTPResponse& response, const std::string& name,
                 const std::string& value) {
    if (!response.has(name))
        response.set(name, value);
}

}  // namespace

void PublicHeaders::apply(Poco::Net::HTTPResponse& response, bool secure) {
    setIfAbsent(response, "X-Frame-Options", "SAMEORIGIN");
    setIfAbsent(response, "Referrer-Policy", "same-origin");
    setIfAbsent(response, "X-Content-Type-Options", "nosniff");
    if (secure)
        setIfAbsent(response, "Strict-Transport-Security", "max-age=31536000");
}

}  // namespace Host
}  // namespace Orvane
