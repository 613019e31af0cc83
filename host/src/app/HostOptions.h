// What the command line asked for: the command, its arguments and the
// settings of the host. A plain value, filled once by CommandLine.
#pragma once

#include <string>
#include <vector>

namespace Orvane {
namespace Host {

struct HostOptions {
    std::string command = "serve";       // "serve" or "guest"
    std::vector<std::string> arguments;  // for "guest": the sub-command and its name
    std::string profile = "./var/profile";
    int port = 8080;
    std::string bind = "127.0.0.1";
    std::string pluginDir;  // empty: the executable's ../plugins
    std::string wwwDir;     // empty: the executable's ../www
    std::string publicUrl;
    int workers = 8;
    std::vector<std::string> shares;
    std::string logLevel = "information";
    // TLS and proxies; empty or -1: host.properties decides.
    std::string tlsCert;
    std::string tlsKey;
    bool tlsSelfSigned = false;
    int redirectHttpPort = -1;
    std::vector<std::string> trustedProxies;
    std::string password;
    bool hasPassword = false;
    bool help = false;
};

}  // namespace Host
}  // namespace Orvane
