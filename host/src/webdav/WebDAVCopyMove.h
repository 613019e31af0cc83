// COPY and MOVE of the WebDAV server within one share: Overwrite, Depth
// (a shallow copy of a folder makes the folder only), dead properties
// carried along, locks left behind. A destination outside the share is
// refused. Stateless.
#pragma once

#include "webdav/WebDAVMethod.h"

namespace Orvane {
namespace Host {

class WebDAVCopyMove {
public:
    static WebDAVMethods methods();
};

}  // namespace Host
}  // namespace Orvane
