// Every setting of the host in one table: its key (in a --config file and in
// the profile's host.properties), its flag, its built-in default, what values
// it takes and its help. The command line, both files' readers, --help,
// check-config and the packaged configuration file are all made from it, so
// a new setting is one more row here. Immutable; read from any thread.
#pragma once

#include <string>
#include <vector>

namespace Orvane {
namespace Host {

enum class SettingKind {
    Text,      // any text without control characters
    Secret,    // as Text, never printed back
    Name,      // a host name or address: no blanks either
    Path,      // a file or folder
    Number,    // a whole number from low to high
    Decimal,   // a number above low, up to high
    Switch,    // true/false, yes/no, on/off, 1/0; as a flag it takes no value
    LogLevel,  // one of Poco's level names
    Url,       // an http:// or https:// address
    Email,     // an e-mail address
    Proxies    // comma-separated addresses or CIDR blocks
};

struct Setting {
    const char* group;     // the heading it is listed under
    const char* key;       // in the files
    const char* flag;      // on the command line; "" when there is none
    const char* fallback;  // the built-in default, as a file would write it
    SettingKind kind;
    long long low;     // Number: the smallest value taken
    long long high;    // Number: the largest value taken
    bool repeatable;   // every line and every flag adds one more value
    const char* help;  // one or two sentences
};

class SettingsTable {
public:
    static const std::vector<Setting>& all();
    // Null when there is no such key or flag.
    static const Setting* byKey(const std::string& key);
    static const Setting* byFlag(const std::string& flag);
    // Empty when `value` suits the setting (an empty value always does: it
    // stands for the default), else what it wants, e.g. "wants a whole
    // number from 1 to 3600, not \"soon\"".
    static std::string check(const Setting& setting, const std::string& value);
};

}  // namespace Host
}  // namespace Orvane
