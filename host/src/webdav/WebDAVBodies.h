// What the XML bodies of WebDAV requests ask for: PROPFIND's <propfind>,
// PROPPATCH's <propertyupdate> and LOCK's <lockinfo>, read from the body's
// text alone so that nothing about the resource is needed to read them.
// Pure functions, thread-safe.
#pragma once

#include <string>
#include <vector>

#include "webdav/WebDAVXml.h"
#include "webdav/store/WebDAVLocks.h"
#include "webdav/store/WebDAVPropertyStore.h"

namespace Orvane {
namespace Host {

class WebDAVBodies {
public:
    struct Propfind {
        enum Mode { ALLPROP, PROPNAME, NAMED };
        Mode mode = ALLPROP;
        std::vector<PropName> names;  // NAMED, and allprop's include
    };

    // An empty (or blank) body asks for allprop. Throws BadXml for a body
    // that is not a <propfind> asking for something.
    static Propfind propfind(const std::string& body);
    // The set and remove instructions in document order. Throws BadXml for
    // a body that is not a <propertyupdate>.
    static std::vector<WebDAVPropertyStore::Change> propertyUpdate(const std::string& body);
    // Fills the scope and owner of `lock`; false for a body that does not
    // ask for a write lock. Throws BadXml for a body that is not XML.
    static bool lockInfo(const std::string& body, WebDAVLock& lock);
};

}  // namespace Host
}  // namespace Orvane
