#include "app/CommandLine.h"

#include <Poco/NumberParser.h>
#include <Poco/Path.h>
#include <unistd.h>

#include <climits>
#include <vector>

namespace Orvane {
namespace Host {
namespace {

int parseNumber(const std::string& option, const std::string& text, int low, int high) {
    int value = 0;
    if (!Poco::NumberParser::tryParse(text, value) || value < low || value > high) {
        throw UsageError(option + " wants a number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    }
    return value;
}

bool isLogLevel(const std::string& level) {
    static const char* levels[] = {"none",   "fatal",       "critical", "error", "warning",
                                   "notice", "information", "debug",    "trace"};
    for (const char* known : levels) {
        if (level == known)
            return true;
    }
    return false;
}

class Parser {
public:
    Parser(int argc, char** argv) : m_args(argv + 1, argv + argc) {}

    HostOptions run() {
        while (m_next < m_args.size())
            step(m_args[m_next++]);
        check();
        while (!m_options.publicUrl.empty() && m_options.publicUrl.back() == '/') {
            m_options.publicUrl.pop_back();
        }
        return m_options;
    }

private:
    void step(const std::string& arg) {
        if (arg == "-h" || arg == "--help") {
            m_options.help = true;
        } else if (arg.compare(0, 2, "--") == 0) {
            option(arg);
        } else if (!m_haveCommand && (arg == "serve" || arg == "guest")) {
            m_options.command = arg;
            m_haveCommand = true;
        } else if (m_options.command == "guest") {
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
        if (name == "--profile") {
            m_options.profile = take();
        } else if (name == "--port") {
            m_options.port = parseNumber(name, take(), 0, 65535);
        } else if (name == "--bind") {
            m_options.bind = take();
        } else if (name == "--plugins") {
            m_options.pluginDir = take();
        } else if (name == "--www") {
            m_options.wwwDir = take();
        } else if (name == "--public-url") {
            m_options.publicUrl = take();
        } else if (name == "--workers") {
            m_options.workers = parseNumber(name, take(), 1, 256);
        } else if (name == "--share") {
            m_options.shares.push_back(take());
        } else if (name == "--tls-cert") {
            m_options.tlsCert = take();
        } else if (name == "--tls-key") {
            m_options.tlsKey = take();
        } else if (name == "--tls-self-signed") {
            if (inlineValue)
                throw UsageError(name + " takes no value");
            m_options.tlsSelfSigned = true;
        } else if (name == "--redirect-http-port") {
            m_options.redirectHttpPort = parseNumber(name, take(), 1, 65535);
        } else if (name == "--trusted-proxy") {
            m_options.trustedProxies.push_back(take());
        } else if (name == "--log-level") {
            m_options.logLevel = take();
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
        if (!isLogLevel(m_options.logLevel)) {
            throw UsageError("unknown log level \"" + m_options.logLevel + "\"");
        }
        if (m_options.command == "guest")
            checkGuest();
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
    return "usage: orvane-host [serve] [--profile DIR] [--port N] [--bind ADDR] [--plugins DIR]\n"
           "                   [--public-url URL] [--workers N] [--share PATH]... "
           "[--log-level L]\n"
           "                   [--tls-cert FILE --tls-key FILE | --tls-self-signed]\n"
           "                   [--redirect-http-port N] [--trusted-proxy CIDR]...\n"
           "       orvane-host guest add NAME [--password P] | guest list | guest remove NAME\n"
           "                   | guest passwd NAME [--password P]     (all take --profile)\n"
           "Defaults: --profile ./var/profile --port 8080 --bind 127.0.0.1 --workers 8\n"
           "          --plugins <folder of the executable>/../plugins --log-level information\n"
           "          (--www DIR: the host's own pages, default <folder of the "
           "executable>/../www)\n"
           "TLS: --tls-cert is PEM with the chain after the certificate; --tls-self-signed\n"
           "     keeps a key and certificate in <profile>/tls/. SIGHUP re-reads them.\n";
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
