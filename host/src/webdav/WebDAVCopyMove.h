// COPY and MOVE of the WebDAV server within one share: Overwrite, Depth
// (a shallow copy of a folder makes the folder only), dead properties
// carried along, locks left behind. A destination outside the share is
// refused. Stateless.
#pragma once

#include <string>

#include "webdav/WebDAVExchange.h"

namespace Orvane {
namespace Host {

class WebDAVCopyMove {
public:
    static void copy(WebDAVExchange& x);
    static void move(WebDAVExchange& x);

private:
    // The checks both share; false once answered.
    static bool prepare(WebDAVExchange& x, bool isMove, bool& replaced);
    static void copyTree(const std::string& from, const std::string& to, bool deep);
    static void copyFile(const std::string& from, const std::string& to);
};

}  // namespace Host
}  // namespace Orvane
