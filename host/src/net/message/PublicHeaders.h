// The headers every answer of a public site carries, the plug-in's and the
// host's alike: no framing by other sites, no referrer sent elsewhere, no
// type sniffing, and under TLS the promise to be reached by HTTPS only.
// A header a handler already set is kept. Stateless.
#pragma once

#include <Poco/Net/HTTPResponse.h>

namespace Orvane {
namespace Host {

class PublicHeaders {
public:
    static void apply(Poco::Net::HTTPResponse& response, bool secure);
};

}  // namespace Host
}  // namespace Orvane
