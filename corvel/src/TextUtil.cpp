// Text helpers: filtering, validation, size display and XML escaping.
#include <cstdio>
#include <cstdlib>

#include "orvane/Util.h"

namespace Orvane {
namespace Util {
namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// The characters RFC 5322 allows unquoted in the local part of an address.
bool isLocalPartChar(char c) {
    static const std::string extra = "!#$%&'*+/=?^_`{|}~-";
    return isAsciiLetter(c) || isAsciiDigit(c) || extra.find(c) != std::string::npos;
}

bool isValidLocalPart(const std::string& local) {
    if (local.empty() || local.size() > 64)
        return false;
    if (local.front() == '.' || local.back() == '.')
        return false;
    for (std::size_t i = 0; i < local.size(); ++i) {
        if (local[i] == '.') {
            if (local[i + 1] == '.')
                return false;
        } else if (!isLocalPartChar(local[i])) {
            return false;
        }
    }
    return true;
}

bool isValidLabel(const std::string& label) {
    if (label.empty() || label.size() > 63)
        return false;
    if (label.front() == '-' || label.back() == '-')
        return false;
    for (char c : label) {
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '-')
            return false;
    }
    return true;
}

// At least two labels; the last one (the top-level domain) letters only.
bool isValidDomain(const std::string& domain) {
    if (domain.empty() || domain.size() > 253)
        return false;
    std::size_t pos = 0;
    int labels = 0;
    std::string label;
    while (pos <= domain.size()) {
        std::size_t end = domain.find('.', pos);
        if (end == std::string::npos)
            end = domain.size();
        label = domain.substr(pos, end - pos);
        if (!isValidLabel(label))
            return false;
        ++labels;
        pos = end + 1;
    }
    if (labels < 2 || label.size() < 2)
        return false;
    for (char c : label) {
        if (!isAsciiLetter(c))
            return false;
    }
    return true;
}

// Length of the well-formed UTF-8 sequence at text[i] and its code point;
// 0 when the bytes there are not well-formed (overlong forms, surrogates and
// values above U+10FFFF included).
std::size_t utf8Sequence(const std::string& text, std::size_t i, unsigned& cp) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80           ? 1
                      : (c >> 5) == 0x6  ? 2
                      : (c >> 4) == 0xE  ? 3
                      : (c >> 3) == 0x1E ? 4
                                         : 0;
    if (len == 0 || i + len > text.size())
        return 0;
    cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
        const unsigned char n = static_cast<unsigned char>(text[i + k]);
        if ((n & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (n & 0x3F);
    }
    static const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

void appendEscapedAscii(char c, std::string& out) {
    switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\t':
            out += "&#x9;";
            break;
        case '\n':
            out += "&#xA;";
            break;
        case '\r':
            out += "&#xD;";
            break;
        default:
            // XML 1.0 cannot carry the other C0 controls, not even as references.
            if (!isControl(static_cast<unsigned char>(c)) || c == 0x7F)
                out += c;
    }
}

}  // namespace

std::string sanitizeString(const std::string& text, bool allowPathChars) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isControl(static_cast<unsigned char>(c)))
            continue;
        if (!allowPathChars && (c == '/' || c == '\\'))
            continue;
        out += c;
    }
    return out;
}

std::string trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool isNumeric(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (!isAsciiDigit(c))
            return false;
    }
    return true;
}

bool isAlphaSpace(const std::string& text) {
    bool letter = false;
    for (char c : text) {
        if (isAsciiLetter(c)) {
            letter = true;
        } else if (c != ' ') {
            return false;
        }
    }
    return letter;
}

bool isEmailID(const std::string& text) {
    if (text.size() > 254)
        return false;
    const std::size_t at = text.find('@');
    if (at == std::string::npos || text.find('@', at + 1) != std::string::npos)
        return false;
    return isValidLocalPart(text.substr(0, at)) && isValidDomain(text.substr(at + 1));
}

std::string readableFileSize(std::int64_t bytes, int decimals) {
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
    if (bytes < 0)
        bytes = 0;
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    if (decimals < 0)
        decimals = 0;
    if (decimals > 6)
        decimals = 6;
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    char buf[64];
    for (;;) {
        while (value >= 1024.0 && unit < 4) {
            value /= 1024.0;
            ++unit;
        }
        std::snprintf(buf, sizeof(buf), "%.*f", decimals, value);
        // Rounding may reach the next unit ("1024.00 KB" is "1.00 MB").
        if (unit < 4 && std::strtod(buf, nullptr) >= 1024.0) {
            value = 1024.0;
            continue;
        }
        break;
    }
    return std::string(buf) + " " + units[unit];
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned cp = 0;
        const std::size_t len = utf8Sequence(text, i, cp);
        if (len == 1) {
            appendEscapedAscii(text[i], out);
        } else if (len == 0 || cp == 0xFFFE || cp == 0xFFFF) {
            // Not a character XML can hold: the replacement character keeps the
            // document well-formed where the name itself could not.
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text, i, len);
        }
        i += len == 0 ? 1 : len;
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\'')
            out += "&#39;";
        else if (c == '&' || c == '<' || c == '>' || c == '"')
            appendEscapedAscii(c, out);
        else
            out += c;
    }
    return out;
}

}  // namespace Util
}  // namespace Orvane
