// The commands about settings rather than serving: "check-config" (every
// source read and checked, nothing started), "token" (the owner token of the
// profile in force, read and never made) and "default-config" (a
// configuration file with every key at its default). Main thread; each
// returns the process exit code.
#pragma once

#include <string>
#include <vector>

#include "app/HostOptions.h"
#include "app/Settings.h"

namespace Orvane {
namespace Host {

class ConfigCommand {
public:
    static int check(const HostOptions& options, const Settings& settings);
    static int token(const Settings& settings);
    // KEY=VALUE arguments are written as set; throws UsageError for a key or
    // value the table does not take.
    static int defaultConfig(const std::vector<std::string>& arguments);
};

}  // namespace Host
}  // namespace Orvane
