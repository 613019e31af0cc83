// The limits of a public server that the front enforces. Their keys, defaults
// and ranges are rows of the host's settings table; fromSettings takes the
// checked values in force. The defaults below serve fronts made without
// settings (tests running the front in their own process) and equal the
// table's (a unit test holds them to it). A plain value, filled once at start
// and then only read, from any thread.
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

    // `number` gives the value in force of a key, already checked against
    // its range.
    static FrontLimits fromSettings(const std::function<long long(const std::string&)>& number);
};

}  // namespace Host
}  // namespace Orvane
