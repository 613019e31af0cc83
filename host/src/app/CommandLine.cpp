#include "app/CommandLine.h"

#include <Poco/Path.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "app/SettingsTable.h"

namespace Orvane {
namespace Host {
namespace {

bool isCommand(const std::string& word) {
    return word == "serve" || word == "guest" || word == "token" || word == "check-config" ||
           word == "default-config";
}

class Parser {
public:
    Parser(int argc, char** argv) : m_args(argv + 1, argv + argc) {}

    HostOptions run() {
        while (m_next < m_args.size())
            step(m_args[m_next++]);
        check();
        return m_options;
    }

private:
    void step(const std::string& arg) {
        if (arg == "-h" || arg == "--help") {
            m_options.help = true;
        } else if (arg.compare(0, 2, "--") == 0) {
            option(arg);
        } else if (!m_haveCommand && isCommand(arg)) {
            m_options.command = arg;
            m_haveCommand = true;
        } else if (m_options.command == "guest" || m_options.command == "default-config") {
            m_options.arguments.push_back(arg);
        } else {
            throw UsageError("unknown command or argument \"" + arg + "\"");
        }
    }

    void option(const std::string& arg) {
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        std::string::size_type eq = arg.find('=');
        if (eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        auto take = [&]() {
            if (inlineValue)
                return value;
            if (m_next >= m_args.size())
                throw UsageError(name + " needs a value");
            return m_args[m_next++];
        };
        const Setting* setting = SettingsTable::byFlag(name);
        if (setting && setting->kind == SettingKind::Switch) {
            // A switch is on by being named; --flag=false turns off a file's.
            m_options.flags.push_back({setting, inlineValue ? value : "true"});
        } else if (setting) {
            m_options.flags.push_back({setting, take()});
        } else if (name == "--config") {
            m_options.configFile = take();
        } else if (name == "--password") {
            m_options.password = take();
            m_options.hasPassword = true;
        } else {
            throw UsageError("unknown option " + name);
        }
    }

    void check() const {
        if (m_options.help)
            return;
        if (m_options.command == "guest")
            checkGuest();
        if (m_options.command == "check-config" && m_options.configFile.empty())
            throw UsageError("check-config needs --config FILE");
    }

    void checkGuest() const {
        const auto& a = m_options.arguments;
        if (a.empty())
            throw UsageError("guest needs one of add, list, remove, passwd");
        const std::string& sub = a[0];
        if (sub == "list") {
            if (a.size() != 1)
                throw UsageError("guest list takes no name");
        } else if (sub == "add" || sub == "remove" || sub == "passwd") {
            if (a.size() != 2)
                throw UsageError("guest " + sub + " needs exactly one NAME");
        } else {
            throw UsageError("unknown guest command \"" + sub + "\"");
        }
    }

    std::vector<std::string> m_args;
    std::size_t m_next = 0;
    bool m_haveCommand = false;
    HostOptions m_options;
};

}  // namespace

HostOptions CommandLine::parse(int argc, char** argv) {
    return Parser(argc, argv).run();
}

std::string CommandLine::usage() {
    return "usage: orvane-host [serve] [--config FILE] [--profile DIR] [--port N] [--bind ADDR]\n"
           "                   [--share PATH]... [--FLAG VALUE]...   (every flag: --help)\n"
           "       orvane-host check-config --config FILE     checks every setting, starts "
           "nothing\n"
           "       orvane-host token [--config FILE]           prints the owner token\n"
           "       orvane-host default-config [KEY=VALUE]...   prints a configuration file\n"
           "       orvane-host guest add NAME [--password P] | guest list | guest remove NAME\n"
           "                   | guest passwd NAME [--password P]\n"
           "Every command takes --config FILE and --profile DIR. SIGINT and SIGTERM stop the\n"
           "host; SIGHUP re-reads the TLS certificate and key.\n";
}

std::string CommandLine::executableDir() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return ".";
    std::string dir = Poco::Path(std::string(buffer, n)).parent().toString();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir.empty() ? "." : dir;
}

}  // namespace Host
}  // namespace Orvane
