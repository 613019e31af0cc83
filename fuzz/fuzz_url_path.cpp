// Request targets through the host's reading of them: split into path and
// query, made URL-safe for logs and the plug-in, and percent-decoded.
#include <cstring>

#include "FuzzCheck.h"
#include "http/UrlPath.h"

using Orvane::Host::BadPath;
using Orvane::Host::UrlPath;

namespace {

bool urlSafe(const std::string& text, const char* keep) {
    for (unsigned char c : text) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!plain && (c == 0 || !std::strchr("-._~!$&'()*+,;=:@/%", c)) &&
            (c == 0 || !std::strchr(keep, c)))
            return false;
    }
    return true;
}

// The decoded path, or false when decoding refuses it.
bool decoded(const std::string& raw, std::string& out) {
    try {
        out = UrlPath::decode(raw);
        return true;
    } catch (const BadPath&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string target = fuzzText(data, size);
    std::string path, query;
    UrlPath::split(target, path, query);
    FUZZ_CHECK(path.find_first_of("?#") == std::string::npos, "split left ? or # in the path");
    FUZZ_CHECK(query.find('#') == std::string::npos, "split left the fragment in the query");

    const std::string safePath = UrlPath::normalize(path);
    const std::string safeQuery = UrlPath::normalize(query, "?");
    FUZZ_CHECK(urlSafe(safePath, ""), "normalize kept a byte that may not stand in a URL");
    FUZZ_CHECK(urlSafe(safeQuery, "?"), "normalize kept a byte that may not stand in a query");

    // Making a path safe must not change what it decodes to, nor whether it
    // decodes at all.
    std::string plain, plainOfSafe;
    const bool ok = decoded(path, plain);
    FUZZ_CHECK(ok == decoded(safePath, plainOfSafe), "normalize changed whether a path decodes");
    if (ok) {
        FUZZ_CHECK(plain == plainOfSafe, "normalize changed what a path decodes to");
        FUZZ_CHECK(plain.find('\0') == std::string::npos, "decode let a NUL byte through");
        FUZZ_CHECK(plain.size() <= path.size(), "decode made a path longer");
    }
    return 0;
}
