// One block of addresses written as CIDR ("10.0.0.0/8", "2001:db8::/32", or a
// single address). A plain value; parse() throws Orvane::Exception for text
// it cannot read.
#pragma once

#include <Poco/Net/IPAddress.h>

#include <string>

namespace Orvane {
namespace Host {

class CidrRange {
public:
    static CidrRange parse(const std::string& text);

    // IPv4 addresses mapped into IPv6 (::ffff:a.b.c.d) count as IPv4.
    bool contains(const Poco::Net::IPAddress& address) const;
    static Poco::Net::IPAddress unmapped(const Poco::Net::IPAddress& address);

private:
    Poco::Net::IPAddress m_network;
    Poco::Net::IPAddress m_mask;
};

}  // namespace Host
}  // namespace Orvane
