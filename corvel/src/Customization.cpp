// Branding values, read from a Java-style properties file.
#include "orvane/Customization.h"

#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Util/PropertyFileConfiguration.h>

#include "orvane/Exception.h"

namespace Orvane {
namespace Misc {
namespace {

typedef std::map<std::string, std::string> Values;

// Poco's configuration sees "a.b.c" as a tree; walk it back into flat keys.
void collectKeys(const Poco::Util::AbstractConfiguration& conf, const std::string& prefix,
                 Values& out) {
    Poco::Util::AbstractConfiguration::Keys keys;
    conf.keys(prefix, keys);
    for (const auto& key : keys) {
        const std::string full = prefix.empty() ? key : prefix + "." + key;
        if (conf.hasOption(full))
            out[full] = conf.getRawString(full);
        collectKeys(conf, full, out);
    }
}

Values readValues(const std::string& file) {
    Values values;
    Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> conf(
        new Poco::Util::PropertyFileConfiguration(file));
    collectKeys(*conf, "", values);
    return values;
}

}  // namespace

std::string CustomizationManager::getCustomizationValue(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

bool CustomizationManager::hasCustomizationValue(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values.count(key) != 0;
}

void CustomizationManager::setCustomizationValue(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[key] = value;
}

void CustomizationManager::load(const std::string& propertiesFile) {
    Values values;
    bool failed = false;
    std::string reason;
    try {
        if (Poco::File(propertiesFile).exists())
            values = readValues(propertiesFile);
    } catch (const Poco::Exception& e) {
        failed = true;
        reason = e.displayText();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values.swap(values);
    }
    if (failed)
        throw Orvane::Exception("Cannot read " + propertiesFile + ": " + reason);
}

void CustomizationManager::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.clear();
}

}  // namespace Misc

Misc::CustomizationManager& CustomizationManager() {
    static Misc::CustomizationManager manager;
    return manager;
}

}  // namespace Orvane
