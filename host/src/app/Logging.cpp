#include "app/Logging.h"

#include <Poco/AutoPtr.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/PatternFormatter.h>

namespace Orvane {
namespace Host {

void Logging::setup(const std::string& level) {
    Poco::AutoPtr<Poco::PatternFormatter> formatter(
        new Poco::PatternFormatter("%Y-%m-%d %H:%M:%S.%i %p %s: %t"));
    formatter->setProperty("times", "local");
    Poco::AutoPtr<Poco::FormattingChannel> channel(
        new Poco::FormattingChannel(formatter, new Poco::ConsoleChannel()));
    Poco::Logger::root().setChannel(channel);
    Poco::Logger::root().setLevel(level);
    // Loggers made before this call (by static objects) follow the root too.
    Poco::Logger::setChannel("", channel);
    Poco::Logger::setLevel("", Poco::Logger::parseLevel(level));
}

}  // namespace Host
}  // namespace Orvane
