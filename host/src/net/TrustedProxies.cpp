#include "net/TrustedProxies.h"

#include <Poco/String.h>
#include <Poco/StringTokenizer.h>

#include <algorithm>
#include <cstdlib>

namespace Orvane {
namespace Host {

using Poco::Net::IPAddress;
using Poco::Net::SocketAddress;

namespace {

const int kTokens = Poco::StringTokenizer::TOK_TRIM | Poco::StringTokenizer::TOK_IGNORE_EMPTY;

// Every value of every line of the header, split at commas, in order.
std::vector<std::string> listValues(const Poco::Net::MessageHeader& headers,
                                    const std::string& name) {
    std::vector<std::string> values;
    for (const auto& field : headers) {
        if (Poco::icompare(field.first, name) != 0)
            continue;
        Poco::StringTokenizer parts(field.second, ",", kTokens);
        values.insert(values.end(), parts.begin(), parts.end());
    }
    return values;
}

std::string unquoted(const std::string& text) {
    std::string t = Poco::trim(text);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
        t = t.substr(1, t.size() - 2);
    return t;
}

// "1.2.3.4", "1.2.3.4:80", "[2001:db8::1]:80", "2001:db8::1".
bool parseHop(const std::string& input, SocketAddress& out) {
    std::string text = unquoted(input);
    Poco::UInt16 port = 0;
    if (!text.empty() && text[0] == '[') {
        const std::string::size_type close = text.find(']');
        if (close == std::string::npos)
            return false;
        if (close + 1 < text.size() && text[close + 1] == ':')
            port = static_cast<Poco::UInt16>(std::atoi(text.c_str() + close + 2));
        text = text.substr(1, close - 1);
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        port = static_cast<Poco::UInt16>(std::atoi(text.c_str() + text.find(':') + 1));
        text = text.substr(0, text.find(':'));
    }
    IPAddress address;
    if (!IPAddress::tryParse(text, address))
        return false;
    out = SocketAddress(CidrRange::unmapped(address), port);
    return true;
}

}  // namespace

void TrustedProxies::add(const std::string& cidr) {
    m_ranges.push_back(CidrRange::parse(cidr));
}

void TrustedProxies::addList(const std::string& list) {
    Poco::StringTokenizer parts(list, ",", kTokens);
    for (const auto& part : parts)
        add(part);
}

bool TrustedProxies::trusts(const IPAddress& address) const {
    for (const auto& range : m_ranges) {
        if (range.contains(address))
            return true;
    }
    return false;
}

ClientOrigin TrustedProxies::resolve(const SocketAddress& peer, bool tls,
                                     const Poco::Net::MessageHeader& headers) const {
    ClientOrigin origin;
    origin.address = SocketAddress(CidrRange::unmapped(peer.host()), peer.port());
    origin.https = tls;
    if (m_ranges.empty() || !trusts(peer.host()))
        return origin;
    origin.viaProxy = true;
    std::vector<std::string> hops = listValues(headers, "X-Forwarded-For");
    std::vector<std::string> protos = listValues(headers, "X-Forwarded-Proto");
    std::vector<std::string> hosts = listValues(headers, "X-Forwarded-Host");
    std::string proto = protos.empty() ? "" : protos.back();
    std::string host = hosts.empty() ? "" : hosts.back();
    if (hops.empty())
        readForwarded(headers, hops, proto, host);
    walkHops(hops, origin);
    if (!proto.empty())
        origin.https = Poco::icompare(unquoted(proto), "https") == 0;
    origin.host = unquoted(host);
    return origin;
}

void TrustedProxies::walkHops(const std::vector<std::string>& hops, ClientOrigin& origin) const {
    for (auto it = hops.rbegin(); it != hops.rend(); ++it) {
        SocketAddress hop;
        // An address the proxy could not know ("unknown", "_hidden") ends
        // the walk at the last hop that was believed.
        if (!parseHop(*it, hop))
            return;
        origin.address = hop;
        if (!trusts(hop.host()))
            return;
    }
}

void TrustedProxies::readForwarded(const Poco::Net::MessageHeader& headers,
                                   std::vector<std::string>& hops, std::string& proto,
                                   std::string& host) {
    std::string lastProto, lastHost;
    for (const auto& element : listValues(headers, "Forwarded")) {
        Poco::StringTokenizer pairs(element, ";", kTokens);
        for (const auto& pair : pairs) {
            const std::string::size_type eq = pair.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string key = Poco::toLower(Poco::trim(pair.substr(0, eq)));
            const std::string value = pair.substr(eq + 1);
            if (key == "for")
                hops.push_back(value);
            else if (key == "proto")
                lastProto = value;
            else if (key == "host")
                lastHost = value;
        }
    }
    if (proto.empty())
        proto = lastProto;
    if (host.empty())
        host = lastHost;
}

}  // namespace Host
}  // namespace Orvane
