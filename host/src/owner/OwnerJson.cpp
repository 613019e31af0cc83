#include "owner/OwnerJson.h"

#include <cstdio>

namespace Orvane {
namespace Host {

OwnerJson& OwnerJson::raw(const std::string& name, const std::string& json) {
    if (!m_body.empty())
        m_body += ',';
    m_body += quote(name) + ':' + json;
    return *this;
}

OwnerJson& OwnerJson::field(const std::string& name, const std::string& value) {
    return raw(name, quote(value));
}

OwnerJson& OwnerJson::field(const std::string& name, const char* value) {
    return raw(name, quote(value));
}

OwnerJson& OwnerJson::field(const std::string& name, std::int64_t value) {
    return raw(name, std::to_string(value));
}

OwnerJson& OwnerJson::field(const std::string& name, int value) {
    return raw(name, std::to_string(value));
}

OwnerJson& OwnerJson::field(const std::string& name, bool value) {
    return raw(name, value ? "true" : "false");
}

OwnerJson& OwnerJson::null(const std::string& name) {
    return raw(name, "null");
}

OwnerJson& OwnerJson::object(const std::string& name, const OwnerJson& value) {
    return raw(name, value.str());
}

OwnerJson& OwnerJson::array(const std::string& name, const std::vector<OwnerJson>& items) {
    std::string list = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i)
            list += ',';
        list += items[i].str();
    }
    return raw(name, list + "]");
}

std::string OwnerJson::str() const {
    return "{" + m_body + "}";
}

// Not the share pages' escapeJSString: that one also hides ' < > and U+2028/9 for script in HTML.
std::string OwnerJson::quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    // "</" would let a string end a script element if an answer were ever
    // pasted into a page; the escaped slash reads the same in JSON.
    std::string safe;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '/' && i > 0 && out[i - 1] == '<')
            safe += "\\/";
        else
            safe += out[i];
    }
    return safe + "\"";
}

}  // namespace Host
}  // namespace Orvane
