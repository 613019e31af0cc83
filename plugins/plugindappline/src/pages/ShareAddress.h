// The address of a visitor's request below a share, the operation
// "share/<name>[/<path>]", split into the share's name and the path inside
// the share's folder. A pure function; any thread.
#pragma once

#include <string>

namespace Orvane {
namespace Dappline {

// False for an address that is not below a named share or could climb out of
// its folder (any ".."); `subPath` stays untouched without a path.
bool splitShareAddress(const std::string& operation, std::string& shareName, std::string& subPath);

}  // namespace Dappline
}  // namespace Orvane
