// WebDAV If headers: parsing, the lock tokens named, and evaluation against
// a judge that answers from the condition's own text.
#include "FuzzCheck.h"
#include "webdav/WebDAVIfHeader.h"

using Orvane::Host::BadIfHeader;
using Orvane::Host::WebDAVIfHeader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzzText(data, size);
    WebDAVIfHeader header;
    try {
        header = WebDAVIfHeader(text);
    } catch (const BadIfHeader&) {
        return 0;
    }
    FUZZ_CHECK(!header.empty(), "a parsed If header without a list");
    std::size_t lengths = 0;
    for (const std::string& token : header.tokens()) {
        FUZZ_CHECK(token.find('>') == std::string::npos, "a token that runs past its '>'");
        FUZZ_CHECK(text.find(token) != std::string::npos, "a token that is not in the header");
        lengths += token.size();
    }
    FUZZ_CHECK(lengths <= text.size(), "tokens longer than the header");
    int asked = 0;
    const bool always = header.holds([&](const std::string&, const WebDAVIfHeader::Condition& c) {
        ++asked;
        return !c.negated;
    });
    FUZZ_CHECK(always && asked > 0, "a header whose every condition holds does not hold");
    const bool never = header.holds(
        [](const std::string&, const WebDAVIfHeader::Condition& c) { return c.negated; });
    FUZZ_CHECK(!never, "a header whose every condition fails holds");
    header.holds([](const std::string& resource, const WebDAVIfHeader::Condition& c) {
        return (resource.size() + c.value.size()) % 2 == 0;
    });
    return 0;
}
