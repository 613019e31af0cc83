// A WebDAV method that the server answers on the file system: its name and
// the function that serves it. Every method has that one form; each area
// (WebDAVPropfind, WebDAVWriter, WebDAVCopyMove, WebDAVLocking) lists its
// own, and WebDAVHandler looks a request's method up in those lists. Plain
// data.
#pragma once

#include <vector>

#include "webdav/WebDAVExchange.h"

namespace Orvane {
namespace Host {

struct WebDAVMethod {
    // Answers the exchange, whatever comes of it.
    typedef void (*Serve)(WebDAVExchange& x);

    const char* name;
    Serve serve;
};

typedef std::vector<WebDAVMethod> WebDAVMethods;

}  // namespace Host
}  // namespace Orvane
