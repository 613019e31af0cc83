// Branding values of the host (PRODUCT_NAME, PRODUCT_WEBSITE_URL, ...), read
// from the profile's customization.properties. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Misc {

class CustomizationManager {
public:
    // "" when the key is unset.
    std::string getCustomizationValue(const std::string& key) const;
    bool hasCustomizationValue(const std::string& key) const;
    void setCustomizationValue(const std::string& key, const std::string& value);
    // Replaces every value with those of a properties file; a missing file
    // leaves no values.
    void load(const std::string& propertiesFile);
    void clear();

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_values;
};

}  // namespace Misc

Misc::CustomizationManager& CustomizationManager();

}  // namespace Orvane
