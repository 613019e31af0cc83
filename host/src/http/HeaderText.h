// Texts that go into HTTP response headers: control characters removed,
// the file name of a Content-Disposition rebuilt safely (quoted ASCII name
// plus an RFC 5987 filename*), and the Basic realm challenge. Pure
// functions, thread-safe.
#pragma once

#include <string>

namespace Orvane {
namespace Host {

class HeaderText {
public:
    // Drops CR, LF and every other control character.
    static std::string clean(const std::string& value);
    // From a value such as `attachment; filename="a b.txt"` to
    // `attachment; filename="a b.txt"; filename*=UTF-8''a%20b.txt`. The type
    // is "inline" or "attachment" (anything else becomes "attachment").
    static std::string contentDisposition(const std::string& value);
    // Basic realm="<realm>", charset="UTF-8" with quotes and backslashes
    // of the realm replaced.
    static std::string basicChallenge(const std::string& realm);
    // HTML text and attribute escaping for the host's own small pages.
    static std::string html(const std::string& text);

private:
    static std::string quotedSafe(const std::string& text);
};

}  // namespace Host
}  // namespace Orvane
