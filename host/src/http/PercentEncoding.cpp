#include "http/PercentEncoding.h"

namespace Orvane {
namespace Host {

std::string PercentEncoding::encode(const std::string& text, bool (*keep)(unsigned char c)) {
    std::string out;
    for (unsigned char c : text) {
        if (keep(c))
            out += static_cast<char>(c);
        else
            appendEscaped(out, c);
    }
    return out;
}

void PercentEncoding::appendEscaped(std::string& out, unsigned char c) {
    static const char* digits = "0123456789ABCDEF";
    out += '%';
    out += digits[c >> 4];
    out += digits[c & 15];
}

}  // namespace Host
}  // namespace Orvane
