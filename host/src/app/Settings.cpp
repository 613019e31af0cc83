#include "app/Settings.h"

#include <Poco/File.h>
#include <Poco/NumberParser.h>
#include <Poco/String.h>

namespace Orvane {
namespace Host {
namespace {

const char* const kListed = " (orvane-host --help lists every key)";

}  // namespace

Settings::Settings() {
    for (const Setting& setting : SettingsTable::all()) {
        Value& value = m_values[setting.key];
        if (!setting.repeatable)
            value.values.push_back(setting.fallback);
    }
}

Settings Settings::resolve(const std::string& configFile, const std::vector<FlagValue>& flags) {
    Settings settings;
    if (!configFile.empty())
        settings.readConfig(configFile);
    for (const FlagValue& flag : flags) {
        if (std::string(flag.setting->key) == "profile")
            settings.setFlag(flag);
    }
    settings.readProfileFile(settings.text("profile") + "/host.properties");
    for (const FlagValue& flag : flags)
        settings.setFlag(flag);
    return settings;
}

void Settings::readConfig(const std::string& path) {
    readFile(path, CONFIG_FILE);
}

void Settings::readProfileFile(const std::string& path) {
    if (Poco::File(path).exists())
        readFile(path, PROFILE_FILE);
}

void Settings::readFile(const std::string& path, Layer layer) {
    for (const SettingsEntry& entry : SettingsFile::read(path))
        take(path, entry, layer);
}

void Settings::take(const std::string& path, const SettingsEntry& entry, Layer layer) {
    const std::string where = path + ":" + std::to_string(entry.line);
    const Setting* setting = SettingsTable::byKey(entry.key);
    if (layer == CONFIG_FILE && !entry.hasSeparator)
        throw SettingsError(where + ": \"" + entry.key + "\" is not a line of key = value");
    if (!setting) {
        const std::string unknown = where + ": unknown key \"" + entry.key + "\"";
        if (layer == CONFIG_FILE)
            throw SettingsError(unknown + kListed);
        m_warnings.push_back(unknown + ", ignored" + kListed);
        return;
    }
    if (layer == PROFILE_FILE && std::string(setting->key) == "profile")
        throw SettingsError(where + ": profile: the profile cannot name another profile");
    const std::string problem = SettingsTable::check(*setting, entry.value);
    if (!problem.empty())
        throw SettingsError(where + ": " + setting->key + ": " + problem);
    set(*setting, entry.value, where, layer);
}

void Settings::setFlag(const FlagValue& flag) {
    const std::string problem = SettingsTable::check(*flag.setting, flag.value);
    if (!problem.empty())
        throw SettingsError(std::string(flag.setting->flag) + ": " + problem);
    set(*flag.setting, flag.value, flag.setting->flag, COMMAND_LINE);
}

void Settings::set(const Setting& setting, const std::string& text, const std::string& origin,
                   Layer layer) {
    Value& value = m_values[setting.key];
    if (setting.repeatable) {
        if (text.empty())
            return;
        value.values.push_back(text);
    } else {
        value.values.assign(1, text.empty() ? std::string(setting.fallback) : text);
    }
    value.origin = origin;
    value.layer = layer;
}

const Settings::Value& Settings::at(const std::string& key) const {
    auto it = m_values.find(key);
    if (it == m_values.end())
        throw SettingsError("no setting " + key + " in the table");  // a fault of ours
    return it->second;
}

const std::string& Settings::text(const std::string& key) const {
    static const std::string none;
    const Value& value = at(key);
    return value.values.empty() ? none : value.values.back();
}

long long Settings::number(const std::string& key) const {
    Poco::Int64 number = 0;
    const std::string& value = text(key);
    if (value.empty())
        return 0;
    if (!Poco::NumberParser::tryParse64(value, number))
        throw SettingsError(key + ": \"" + value + "\" is not a number");
    return number;
}

bool Settings::isOn(const std::string& key) const {
    const std::string value = Poco::toLower(text(key));
    return value == "true" || value == "yes" || value == "on" || value == "1";
}

const std::vector<std::string>& Settings::list(const std::string& key) const {
    return at(key).values;
}

const std::string& Settings::origin(const std::string& key) const {
    return at(key).origin;
}

Settings::Layer Settings::layer(const std::string& key) const {
    return at(key).layer;
}

}  // namespace Host
}  // namespace Orvane
