// The reverse proxies whose forwarding headers are believed, and the client
// that a request comes from once they are taken into account. Only from a
// trusted peer are X-Forwarded-For/-Proto/-Host (or RFC 7239 Forwarded)
// read; the client is the right-most forwarded address that is not itself
// a trusted proxy. Filled once at start; const use from any thread.
#pragma once

#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/SocketAddress.h>

#include <string>
#include <vector>

#include "net/CidrRange.h"

namespace Orvane {
namespace Host {

struct ClientOrigin {
    Poco::Net::SocketAddress address;  // the client, as believed
    bool https = false;                // the client's own connection is TLS
    std::string host;                  // the Host the client asked for, "" if not forwarded
    bool viaProxy = false;             // the peer is a trusted proxy
};

class TrustedProxies {
public:
    // Throws Orvane::Exception for text that is not an address or CIDR.
    void add(const std::string& cidr);
    // A comma-separated list, as host.properties' proxy.trusted holds it.
    void addList(const std::string& list);
    bool empty() const { return m_ranges.empty(); }
    bool trusts(const Poco::Net::IPAddress& address) const;

    ClientOrigin resolve(const Poco::Net::SocketAddress& peer, bool tls,
                         const Poco::Net::MessageHeader& headers) const;

private:
    void walkHops(const std::vector<std::string>& hops, ClientOrigin& origin) const;
    static void readForwarded(const Poco::Net::MessageHeader& headers,
                              std::vector<std::string>& hops, std::string& proto,
                              std::string& host);

    std::vector<CidrRange> m_ranges;
};

}  // namespace Host
}  // namespace Orvane
