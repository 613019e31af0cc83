#include "net/FrontLimits.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>

#include "orvane/Exception.h"

namespace Orvane {
namespace Host {
namespace {

int number(const std::function<std::string(const std::string&)>& setting, const std::string& key,
           int fallback, int low, int high) {
    const std::string text = Poco::trim(setting(key));
    if (text.empty())
        return fallback;
    int value = 0;
    if (!Poco::NumberParser::tryParse(text, value) || value < low || value > high) {
        throw Orvane::Exception("host.properties: " + key + " wants a whole number from " +
                                std::to_string(low) + " to " + std::to_string(high) + ", not \"" +
                                text + "\"");
    }
    return value;
}

}  // namespace

FrontLimits FrontLimits::fromSettings(
    const std::function<std::string(const std::string&)>& setting) {
    FrontLimits l;
    l.headerTimeoutSeconds =
        number(setting, "header.timeout.seconds", l.headerTimeoutSeconds, 1, 3600);
    l.headerMaxBytes = static_cast<std::size_t>(
        number(setting, "header.max.bytes", static_cast<int>(l.headerMaxBytes), 1024, 1 << 24));
    l.bodyMinRate = number(setting, "body.min.rate", l.bodyMinRate, 0, 1 << 30);
    l.bodyGraceSeconds = number(setting, "body.grace.seconds", l.bodyGraceSeconds, 1, 3600);
    l.keepAliveIdleSeconds =
        number(setting, "keepalive.idle.seconds", l.keepAliveIdleSeconds, 1, 3600);
    l.connectionsPerAddress =
        number(setting, "connections.per.address", l.connectionsPerAddress, 1, 1000000);
    l.connectionsMax = number(setting, "connections.max", l.connectionsMax, 1, 1000000);
    l.sendStallSeconds = number(setting, "send.stall.seconds", l.sendStallSeconds, 1, 3600);
    l.threads = number(setting, "front.threads", l.threads, 1, 1024);
    return l;
}

}  // namespace Host
}  // namespace Orvane
