// Percent-encoding for the places that name a path or a file in a URL or a
// header parameter: every byte the caller's rule does not keep becomes %XX
// with upper-case hex digits. Pure functions, thread-safe.
#pragma once

#include <string>

namespace Orvane {
namespace Host {

class PercentEncoding {
public:
    static std::string encode(const std::string& text, bool (*keep)(unsigned char c));
    // Appends "%XX" (upper-case hex) for the byte.
    static void appendEscaped(std::string& out, unsigned char c);
};

}  // namespace Host
}  // namespace Orvane
