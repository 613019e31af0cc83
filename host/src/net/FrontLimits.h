// The limits of a public server that the front enforces, each with its
// default and its host.properties key (see fromSettings). A plain value,
// filled once at start and then only read, from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace Orvane {
namespace Host {

struct FrontLimits {
    int headerTimeoutSeconds = 20;       // header.timeout.seconds: the whole header
    std::size_t headerMaxBytes = 65536;  // header.max.bytes
    int bodyMinRate = 500;               // body.min.rate: bytes a second, 0 = none
    int bodyGraceSeconds = 20;           // body.grace.seconds: before the rate counts
    int keepAliveIdleSeconds = 30;       // keepalive.idle.seconds
    int connectionsPerAddress = 64;      // connections.per.address
    int connectionsMax = 10000;          // connections.max
    int sendStallSeconds = 60;           // send.stall.seconds: a reader taking nothing
    int threads = 64;                    // front.threads: requests served at once

    // Reads every key through `setting` (empty: the default). Throws
    // Orvane::Exception naming the key of a value it cannot accept.
    static FrontLimits fromSettings(const std::function<std::string(const std::string&)>& setting);
};

}  // namespace Host
}  // namespace Orvane
