// Sends every Poco logger to the console (standard error) at one level.
// Call once from the main thread before other threads start.
#pragma once

#include <string>

namespace Orvane {
namespace Host {

class Logging {
public:
    static void setup(const std::string& level);
};

}  // namespace Host
}  // namespace Orvane
