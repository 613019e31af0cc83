// Placeholder: this area is not built yet. Every entry answers the failure
// result of its operation (or the error page), so nothing pretends to work.
#include "DapplinePlugin.h"

#include "orvane/Exception.h"
#include "orvane/HTTPUtil.h"

namespace Orvane {
namespace Dappline {

namespace {
const char* const NOT_YET = "This feature is not available yet";
}

std::string DapplinePlugin::getFileList(const std::string&, bool, const std::string&,
                                        const std::string&, bool, const std::string&,
                                        const std::string&) {
    return getErrorHTML(NOT_YET);
}

std::string DapplinePlugin::getThumbList(const std::string&, bool, const std::string&,
                                         const std::string&, int, int, bool, const std::string&,
                                         const std::string&) {
    return getErrorHTML(NOT_YET);
}

std::string DapplinePlugin::getMusicList(const std::string&, bool, const std::string&,
                                         const std::string&, bool, const std::string&,
                                         const std::string&) {
    return getErrorHTML(NOT_YET);
}

}  // namespace Dappline
}  // namespace Orvane
