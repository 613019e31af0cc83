// The path of a request target: splitting off the query, percent-decoding
// (refusing NUL bytes and broken escapes) and making a raw path safe to
// hand on (every byte outside the URL character set percent-encoded).
// Pure functions, thread-safe.
#pragma once

#include <stdexcept>
#include <string>

namespace Orvane {
namespace Host {

class BadPath : public std::runtime_error {
public:
    explicit BadPath(const std::string& why) : std::runtime_error(why) {}
};

class UrlPath {
public:
    // Splits a request target into its raw path and raw query (no "?"); an
    // absolute-form target loses its scheme and authority.
    static void split(const std::string& target, std::string& path, std::string& query);
    // Throws BadPath for "%" not followed by two hex digits, or a NUL byte.
    static std::string decode(const std::string& raw);
    // The raw text with existing escapes kept and every other byte that may
    // not stand in a URL (quotes, angle brackets, spaces, controls, bytes
    // above 0x7E) percent-encoded. `keep` names further characters to keep
    // as they are ("?#" for a whole URL).
    static std::string normalize(const std::string& raw, const std::string& keep = "");
    // The decoded value of one field of a raw query (as HTML forms encode
    // it); "" when it is absent or the query cannot be read.
    static std::string queryValue(const std::string& query, const std::string& name);
};

}  // namespace Host
}  // namespace Orvane
