#include "net/FrontLimits.h"

namespace Orvane {
namespace Host {

FrontLimits FrontLimits::fromSettings(const std::function<long long(const std::string&)>& number) {
    auto whole = [&](const char* key) { return static_cast<int>(number(key)); };
    FrontLimits l;
    l.headerTimeoutSeconds = whole("header.timeout.seconds");
    l.headerMaxBytes = static_cast<std::size_t>(number("header.max.bytes"));
    l.bodyMinRate = whole("body.min.rate");
    l.bodyGraceSeconds = whole("body.grace.seconds");
    l.keepAliveIdleSeconds = whole("keepalive.idle.seconds");
    l.connectionsPerAddress = whole("connections.per.address");
    l.connectionsMax = whole("connections.max");
    l.sendStallSeconds = whole("send.stall.seconds");
    l.threads = whole("front.threads");
    return l;
}

}  // namespace Host
}  // namespace Orvane
