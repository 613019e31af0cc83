// Free text helpers shared by the request handlers and page builders, and the
// product identity taken from the host's branding values.
#include <string>

#include "core/DapplinePlugin.h"
#include "orvane/Customization.h"

namespace Orvane {
namespace Dappline {

namespace {
const char* const DEFAULT_PRODUCT_NAME = "Orvane";
const char* const DEFAULT_PRODUCT_WEBSITE = "https://www.orvane.example/dappline";

// A branding value the host has set is used as it stands, even when empty.
std::string customizedOr(const std::string& key, const std::string& fallback) {
    Misc::CustomizationManager& branding = Orvane::CustomizationManager();
    if (!branding.hasCustomizationValue(key))
        return fallback;
    return branding.getCustomizationValue(key);
}
}  // namespace

void splitIntoParts(const std::string& path, std::string& first, std::string& rest) {
    const std::string::size_type slash = path.find('/');
    if (slash == std::string::npos) {
        first = path;
        return;
    }
    // Both parts are taken before either is assigned: callers may pass the
    // path itself as one of the outputs.
    std::string head = path.substr(0, slash);
    std::string tail = path.substr(slash + 1);
    first.swap(head);
    rest.swap(tail);
}

void searchAndReplace(std::string& text, const std::string& find, const std::string& replacement) {
    if (find.empty())
        return;
    std::string::size_type pos = text.find(find);
    while (pos != std::string::npos) {
        text.replace(pos, find.size(), replacement);
        pos = text.find(find, pos + replacement.size());
    }
}

std::string getProductName() {
    return customizedOr("PRODUCT_NAME", DEFAULT_PRODUCT_NAME);
}

std::string getProductWebsite() {
    return customizedOr("PRODUCT_WEBSITE_URL", DEFAULT_PRODUCT_WEBSITE);
}

}  // namespace Dappline
}  // namespace Orvane
