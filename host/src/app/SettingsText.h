// Texts made from SettingsTable: the settings part of --help, and a
// configuration file holding every key at its default, commented out (the
// packaged /etc/orvane/orvane.conf is one). Stateless.
#pragma once

#include <map>
#include <string>

namespace Orvane {
namespace Host {

class SettingsText {
public:
    static std::string help();
    // `chosen` keys are written set to their value, uncommented, with the
    // built-in default in their comment.
    static std::string configFile(const std::map<std::string, std::string>& chosen);
};

}  // namespace Host
}  // namespace Orvane
