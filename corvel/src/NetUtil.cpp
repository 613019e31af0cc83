// Network facts about this host: its public base URL and its address on the
// local network.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "orvane/ProfileManager.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Util {
namespace {

// 10/8, 172.16/12 and 192.168/16; address in host byte order.
bool isPrivateIPv4(std::uint32_t address) {
    return (address >> 24) == 10 || (address >> 20) == ((172u << 4) | 1u) ||
           (address >> 16) == ((192u << 8) | 168u);
}

}  // namespace

std::string getPublicBaseURL() {
    std::string url = trim(API::ProfileManager::getProperty("public.url"));
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    if (!url.empty())
        return url;
    const std::string scheme = API::ProfileManager::isHTTPS() ? "https://" : "http://";
    return scheme + "127.0.0.1:" + std::to_string(API::ProfileManager::getHTTPPort());
}

bool getPrivateIPAddress(std::string& ip, bool& isIPv6) {
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (struct ifaddrs* it = list; it && !found; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(it->ifa_flags & IFF_UP) || (it->ifa_flags & IFF_LOOPBACK))
            continue;
        const auto* in = reinterpret_cast<const struct sockaddr_in*>(it->ifa_addr);
        if (!isPrivateIPv4(ntohl(in->sin_addr.s_addr)))
            continue;
        char text[INET_ADDRSTRLEN];
        if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)))
            continue;
        ip = text;
        isIPv6 = false;
        found = true;
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace Util
}  // namespace Orvane
