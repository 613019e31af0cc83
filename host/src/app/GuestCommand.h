// "orvane-host guest add|list|remove|passwd": manages the profile's guest
// users through the host's guest-user store. Runs on the main thread and
// returns the process exit code.
#pragma once

#include <string>

#include "app/HostOptions.h"

namespace Orvane {
namespace Host {

class GuestCommand {
public:
    static int run(const HostOptions& options);

private:
    // From --password, else asked for on the terminal (twice, not echoed),
    // else one line of standard input.
    static std::string password(const HostOptions& options, const std::string& name);
    static std::string readHidden(const std::string& prompt);
};

}  // namespace Host
}  // namespace Orvane
