// Reads a settings file of `key = value` lines, the form of host.properties,
// keeping each entry's line number for error messages. Read as Poco's
// PropertyFileConfiguration reads it (so both agree on host.properties):
// `=` or `:` ends the key, `#` or `!` starts a comment line, a backslash at
// the end of a line continues the value, and \t \n \r \f are escapes.
// Stateless; throws SettingsError when the file cannot be read.
#pragma once

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace Orvane {
namespace Host {

// One line naming the file, the line and the key, ready to print.
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string& message) : std::runtime_error(message) {}
};

struct SettingsEntry {
    std::string key;
    std::string value;
    int line = 0;               // where the entry starts, from 1
    bool hasSeparator = false;  // false for a line that is only a key
};

class SettingsFile {
public:
    static std::vector<SettingsEntry> read(const std::string& path);
    static std::vector<SettingsEntry> parse(std::istream& in);
};

}  // namespace Host
}  // namespace Orvane
