// Parses the host's command line into HostOptions (the settings' flags come
// from SettingsTable) and knows its usage text.
// Stateless; throws UsageError for anything it cannot accept.
#pragma once

#include <stdexcept>
#include <string>

#include "app/HostOptions.h"

namespace Orvane {
namespace Host {

class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

class CommandLine {
public:
    static HostOptions parse(int argc, char** argv);
    static std::string usage();
    // The folder of the running executable, without a trailing "/".
    static std::string executableDir();
};

}  // namespace Host
}  // namespace Orvane
