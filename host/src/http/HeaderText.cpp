#include "http/HeaderText.h"

#include <Poco/String.h>

#include <cstring>

#include "http/PercentEncoding.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

namespace {

// RFC 5987 attr-char: the bytes that stand for themselves in filename*.
bool isAttrChar(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$&+-.^_`|~", c) != nullptr && c != 0;
}

std::string extendedValue(const std::string& text) {
    return "UTF-8''" + PercentEncoding::encode(text, isAttrChar);
}

// The file name of the plug-in's value: between the first and the last
// double quote after "filename=", or the unquoted rest.
std::string fileNameOf(const std::string& value) {
    std::string::size_type at = Poco::toLower(value).find("filename=");
    if (at == std::string::npos)
        return std::string();
    std::string rest = value.substr(at + 9);
    std::string::size_type open = rest.find('"');
    std::string::size_type close = rest.rfind('"');
    if (open == 0 && close != std::string::npos && close > open) {
        return rest.substr(1, close - 1);
    }
    return Poco::trim(rest.substr(0, rest.find(';')));
}

}  // namespace

std::string HeaderText::clean(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        if (c == '\t') {
            out += ' ';
        } else if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string HeaderText::contentDisposition(const std::string& value) {
    std::string type = Poco::toLower(Poco::trim(value.substr(0, value.find(';'))));
    if (type != "inline")
        type = "attachment";
    const std::string name = clean(fileNameOf(value));
    if (name.empty())
        return type;
    return type + "; filename=\"" + quotedSafe(name) + "\"; filename*=" + extendedValue(name);
}

std::string HeaderText::basicChallenge(const std::string& realm) {
    return "Basic realm=\"" + quotedSafe(clean(realm)) + "\", charset=\"UTF-8\"";
}

std::string HeaderText::html(const std::string& text) {
    return Util::htmlEscape(text);
}

// Printable ASCII only; quotes, backslashes and percent signs (which some
// browsers would decode) become "_".
std::string HeaderText::quotedSafe(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        bool plain = c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '%';
        out += plain ? static_cast<char>(c) : '_';
    }
    return out;
}

}  // namespace Host
}  // namespace Orvane
