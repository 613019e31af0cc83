#include "net/CidrRange.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>

#include <cstring>

#include "orvane/Exception.h"

namespace Orvane {
namespace Host {

using Poco::Net::IPAddress;

CidrRange CidrRange::parse(const std::string& input) {
    const std::string text = Poco::trim(input);
    const std::string::size_type slash = text.find('/');
    IPAddress address;
    if (!IPAddress::tryParse(text.substr(0, slash), address))
        throw Orvane::Exception("\"" + text + "\" is not an address or a CIDR block");
    address = unmapped(address);
    const unsigned bits = address.family() == IPAddress::IPv4 ? 32 : 128;
    unsigned prefix = bits;
    if (slash != std::string::npos &&
        (!Poco::NumberParser::tryParseUnsigned(text.substr(slash + 1), prefix) || prefix > bits)) {
        throw Orvane::Exception("\"" + text + "\" has a prefix length outside 0 to " +
                                std::to_string(bits));
    }
    CidrRange range;
    range.m_mask = IPAddress(prefix, address.family());
    range.m_network = address & range.m_mask;
    return range;
}

bool CidrRange::contains(const IPAddress& input) const {
    const IPAddress address = unmapped(input);
    return address.family() == m_network.family() && (address & m_mask) == m_network;
}

IPAddress CidrRange::unmapped(const IPAddress& address) {
    if (address.family() != IPAddress::IPv6 || !address.isIPv4Mapped())
        return address;
    const unsigned char* raw = static_cast<const unsigned char*>(address.addr());
    return IPAddress(raw + 12, 4);
}

}  // namespace Host
}  // namespace Orvane
