// What the command line asked for: the command, its arguments, the --config
// file and the settings given as flags (Settings::resolve weighs them against
// the files). A plain value, filled once by CommandLine.
#pragma once

#include <string>
#include <vector>

#include "app/Settings.h"

namespace Orvane {
namespace Host {

struct HostOptions {
    // "serve", "guest", "token", "check-config" or "default-config"
    std::string command = "serve";
    // "guest": the sub-command and its name; "default-config": KEY=VALUE pairs
    std::vector<std::string> arguments;
    std::string configFile;
    std::vector<FlagValue> flags;  // in the order given
    std::string profile;           // filled from the resolved settings
    std::string password;
    bool hasPassword = false;
    bool help = false;
};

}  // namespace Host
}  // namespace Orvane
