// The host's settings once every source is read, later sources winning:
// the built-in defaults of SettingsTable, a --config file, the profile's
// host.properties, then the command line. Repeatable settings (share,
// proxy.trusted) add up over the sources instead. An empty value stands for
// the default. Filled on the main thread at start, then only read.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/SettingsFile.h"
#include "app/SettingsTable.h"

namespace Orvane {
namespace Host {

struct FlagValue {
    const Setting* setting = nullptr;
    std::string value;
};

class Settings {
public:
    enum Layer { DEFAULT, CONFIG_FILE, PROFILE_FILE, COMMAND_LINE };

    Settings();

    // Every source in order. The profile whose host.properties is read is the
    // one the flags or the file name. Throws SettingsError.
    static Settings resolve(const std::string& configFile, const std::vector<FlagValue>& flags);

    // A --config file: an unknown key or a bad value throws SettingsError
    // naming the file, the line and the key.
    void readConfig(const std::string& path);
    // The profile's host.properties, if there is one: a bad value throws as
    // above; an unknown key (older profiles carry keys of their own) becomes
    // a warning; `profile` cannot be set there.
    void readProfileFile(const std::string& path);
    // Throws SettingsError naming the flag.
    void setFlag(const FlagValue& flag);

    // The value in force (the default when no source set one).
    const std::string& text(const std::string& key) const;
    long long number(const std::string& key) const;
    bool isOn(const std::string& key) const;
    // Every value of a repeatable setting, in the order read.
    const std::vector<std::string>& list(const std::string& key) const;
    // Where the value in force comes from: "default", "FILE:LINE" or the flag.
    const std::string& origin(const std::string& key) const;
    Layer layer(const std::string& key) const;
    const std::vector<std::string>& warnings() const { return m_warnings; }

private:
    struct Value {
        std::vector<std::string> values;
        std::string origin = "default";
        Layer layer = DEFAULT;
    };

    void readFile(const std::string& path, Layer layer);
    void take(const std::string& path, const SettingsEntry& entry, Layer layer);
    void set(const Setting& setting, const std::string& value, const std::string& origin,
             Layer layer);
    const Value& at(const std::string& key) const;

    std::map<std::string, Value> m_values;
    std::vector<std::string> m_warnings;
};

}  // namespace Host
}  // namespace Orvane
