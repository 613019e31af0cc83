// WebDAV request bodies as PROPFIND, PROPPATCH and LOCK read them. What is
// kept of a body (dead property values, a lock's owner) is later written
// into answers, so it must stand as well-formed XML wherever it lands.
#include "FuzzCheck.h"
#include "webdav/WebDAVBodies.h"

using Orvane::Host::BadXml;
using Orvane::Host::PropName;
using Orvane::Host::WebDAVBodies;
using Orvane::Host::WebDAVLock;
using Orvane::Host::WebDAVXml;

namespace {

bool wellFormed(const std::string& fragment) {
    try {
        WebDAVXml::parse("<D:prop xmlns:D=\"DAV:\">" + fragment + "</D:prop>");
        return true;
    } catch (const BadXml&) {
        return false;
    }
}

void readPropfind(const std::string& body) {
    try {
        const WebDAVBodies::Propfind req = WebDAVBodies::propfind(body);
        // A few names are enough to check; parsing each would slow the run.
        for (std::size_t i = 0; i < req.names.size() && i < 8; ++i) {
            FUZZ_CHECK(!req.names[i].name.empty(), "a property without a name");
            FUZZ_CHECK(wellFormed(WebDAVXml::element(req.names[i], "")),
                       "a property name breaks XML");
        }
    } catch (const BadXml&) {
    }
}

void readPropertyUpdate(const std::string& body) {
    try {
        const auto changes = WebDAVBodies::propertyUpdate(body);
        for (std::size_t i = 0; i < changes.size() && i < 8; ++i) {
            const auto& change = changes[i];
            FUZZ_CHECK(wellFormed(change.value), "a property value is not well-formed");
            FUZZ_CHECK(wellFormed(WebDAVXml::element(change.prop, change.value)),
                       "a property with its value is not well-formed");
        }
    } catch (const BadXml&) {
    }
}

void readLockInfo(const std::string& body) {
    try {
        WebDAVLock lock;
        if (WebDAVBodies::lockInfo(body, lock))
            FUZZ_CHECK(wellFormed(lock.owner), "a lock's owner is not well-formed");
    } catch (const BadXml&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body = fuzzText(data, size);
    readPropfind(body);
    readPropertyUpdate(body);
    readLockInfo(body);
    // Names of files reach answers through escape(), whatever their bytes.
    FUZZ_CHECK(wellFormed(WebDAVXml::escape(body)), "escaped text is not well-formed");
    const std::string href = WebDAVXml::encodePath(body);
    FUZZ_CHECK(href.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789-._~/%") == std::string::npos,
               "an encoded path keeps a reserved byte");
    return 0;
}
