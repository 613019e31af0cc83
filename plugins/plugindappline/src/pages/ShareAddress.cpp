#include "pages/ShareAddress.h"

#include "core/DapplinePlugin.h"

namespace Orvane {
namespace Dappline {

bool splitShareAddress(const std::string& operation, std::string& shareName, std::string& subPath) {
    if (operation.find("..") != std::string::npos)
        return false;
    if (operation.find('/') != 5)
        return false;
    splitIntoParts(operation.substr(6), shareName, subPath);
    return !shareName.empty();
}

}  // namespace Dappline
}  // namespace Orvane
