// COPY and MOVE of the WebDAV server within one share: Overwrite, Depth
// (a shallow copy of a folder makes the folder only), dead properties
// carried along, locks left behind. A destination outside the share is
// refused. A copy reserves its size in the share first and is charged as
// it writes (507 at the share's limit or the disk's floor, nothing partial
// left); no member that a download would refuse is copied. Stateless.
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
