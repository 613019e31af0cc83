#include "app/SettingsText.h"

#include <sstream>

#include "app/SettingsTable.h"

namespace Orvane {
namespace Host {
namespace {

const std::size_t kWidth = 78;

// `text` broken into lines of at most kWidth columns, each starting with
// `indent`.
std::string wrapped(const std::string& text, const std::string& indent) {
    std::istringstream words(text);
    std::string out;
    std::string line;
    std::string word;
    while (words >> word) {
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > kWidth) {
            out += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty())
        out += indent + line + "\n";
    return out;
}

const char* placeholder(SettingKind kind) {
    switch (kind) {
        case SettingKind::Number:
        case SettingKind::Decimal:
            return " N";
        case SettingKind::Path:
            return " PATH";
        case SettingKind::Name:
            return " ADDR";
        case SettingKind::Url:
            return " URL";
        case SettingKind::LogLevel:
            return " LEVEL";
        case SettingKind::Proxies:
            return " CIDR";
        case SettingKind::Switch:
            return "";
        default:
            return " TEXT";
    }
}

std::string flagUse(const Setting& s) {
    if (!*s.flag)
        return "";
    return std::string("   (") + s.flag + placeholder(s.kind) +
           (s.repeatable ? ", repeatable)" : ")");
}

// "key = value", without a blank at the end for an empty value.
std::string line(const std::string& key, const std::string& value) {
    return key + " =" + (value.empty() ? "" : " " + value);
}

const char* const kOrder =
    "Later sources win: the built-in defaults, the --config file, the profile's "
    "host.properties, the command line's flags. Repeatable settings add up over the "
    "sources instead, and an empty value stands for the default.";

}  // namespace

std::string SettingsText::help() {
    std::string out = "\n" + wrapped(
                                 "Settings: one \"key = value\" a line in a --config FILE or "
                                 "in the profile's host.properties, or the flag named "
                                 "beside them.",
                                 "");
    out += wrapped(kOrder, "");
    std::string group;
    for (const Setting& s : SettingsTable::all()) {
        if (group != s.group) {
            group = s.group;
            out += "\n" + group + "\n";
        }
        out += "  " + line(s.key, s.fallback) + flagUse(s) + "\n";
        out += wrapped(s.help, "      ");
    }
    return out;
}

std::string SettingsText::configFile(const std::map<std::string, std::string>& chosen) {
    std::string out = wrapped(
        "The settings of orvane-host, read with --config FILE (orvane-host --help lists "
        "them too). One \"key = value\" a line; a line starting with # is a comment. Every "
        "key stands at its built-in default: remove the # and change the value. Check the "
        "file with: orvane-host check-config --config FILE",
        "# ");
    out += wrapped(kOrder, "# ");
    std::string group;
    for (const Setting& s : SettingsTable::all()) {
        if (group != s.group) {
            group = s.group;
            out += "\n# ---- " + group + " ----\n";
        }
        out += "\n" + wrapped(s.help, "# ");
        auto set = chosen.find(s.key);
        if (set != chosen.end()) {
            out += "# (built-in default: " + std::string(*s.fallback ? s.fallback : "none") + ")\n";
            out += line(s.key, set->second) + "\n";
        } else {
            out += "#" + line(s.key, s.fallback) + "\n";
        }
    }
    return out;
}

}  // namespace Host
}  // namespace Orvane
