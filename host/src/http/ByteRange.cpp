#include "http/ByteRange.h"

#include <Poco/String.h>

namespace Orvane {
namespace Host {

bool ByteRange::toNumber(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

ByteRange ByteRange::parse(const std::string& header, std::uint64_t size) {
    ByteRange range;
    const std::string value = Poco::trim(header);
    if (Poco::icompare(value.substr(0, 6), "bytes=") != 0)
        return range;
    const std::string ranges = Poco::trim(value.substr(6));
    if (ranges.find(',') != std::string::npos)
        return range;
    std::string::size_type dash = ranges.find('-');
    if (dash == std::string::npos)
        return range;
    const std::string from = Poco::trim(ranges.substr(0, dash));
    const std::string to = Poco::trim(ranges.substr(dash + 1));

    std::uint64_t a = 0, b = 0;
    if (from.empty()) {
        if (!toNumber(to, b))
            return range;
        if (b == 0 || size == 0) {
            range.kind = UNSATISFIABLE;
            return range;
        }
        range.first = b >= size ? 0 : size - b;
        range.last = size - 1;
    } else {
        if (!toNumber(from, a))
            return range;
        if (!to.empty() && (!toNumber(to, b) || b < a))
            return range;
        if (a >= size) {
            range.kind = UNSATISFIABLE;
            return range;
        }
        range.first = a;
        range.last = to.empty() || b >= size ? size - 1 : b;
    }
    range.kind = SATISFIABLE;
    return range;
}

}  // namespace Host
}  // namespace Orvane
