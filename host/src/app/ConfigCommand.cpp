#include "app/ConfigCommand.h"

#include <Poco/String.h>

#include <fstream>
#include <iostream>
#include <map>

#include "app/CommandLine.h"
#include "app/SettingsText.h"

namespace Orvane {
namespace Host {

int ConfigCommand::check(const HostOptions& options, const Settings& settings) {
    for (const std::string& warning : settings.warnings())
        std::cout << "warning: " << warning << "\n";
    std::cout << options.configFile << ": every setting is valid\n";
    bool any = false;
    for (const Setting& s : SettingsTable::all()) {
        if (settings.layer(s.key) == Settings::DEFAULT)
            continue;
        if (!any)
            std::cout << "Settings that are not at their default:\n";
        any = true;
        std::string shown;
        for (const std::string& value : settings.list(s.key))
            shown += (shown.empty() ? "" : ", ") + value;
        if (s.kind == SettingKind::Secret)
            shown = "(hidden)";
        std::cout << "  " << s.key << " = " << shown << "   (" << settings.origin(s.key) << ")\n";
    }
    std::cout.flush();
    return 0;
}

int ConfigCommand::token(const Settings& settings) {
    const std::string path = settings.text("profile") + "/owner.token";
    std::ifstream in(path);
    std::string token;
    std::getline(in, token);
    token = Poco::trim(token);
    if (token.empty()) {
        std::cerr << "orvane-host: no owner token in " << path
                  << ": the host makes it on its first start with this profile" << std::endl;
        return 1;
    }
    std::cout << token << std::endl;
    return 0;
}

int ConfigCommand::defaultConfig(const std::vector<std::string>& arguments) {
    std::map<std::string, std::string> chosen;
    for (const std::string& argument : arguments) {
        const std::string::size_type eq = argument.find('=');
        const Setting* setting =
            eq == std::string::npos ? nullptr : SettingsTable::byKey(argument.substr(0, eq));
        if (!setting || setting->repeatable)
            throw UsageError("default-config takes KEY=VALUE of a setting, not \"" + argument +
                             "\"");
        const std::string value = argument.substr(eq + 1);
        const std::string problem = SettingsTable::check(*setting, value);
        if (!problem.empty())
            throw UsageError(std::string(setting->key) + ": " + problem);
        chosen[setting->key] = value;
    }
    std::cout << SettingsText::configFile(chosen);
    std::cout.flush();
    return 0;
}

}  // namespace Host
}  // namespace Orvane
