// The translation service: .po catalogues read from zip archives, one
// language for the whole host (the profile's `language`, else LANG, else
// English). Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Misc {

class PoManager {
public:
    // Reads <language>.po from the archive. False when the archive cannot be
    // read; an archive without the language's catalogue is accepted (English).
    bool addPoVfs(const std::string& zipPath, const std::string& domain);
    // False when that archive was not registered.
    bool removePoVfs(const std::string& zipPath);
    // The text itself when no catalogue translates it.
    std::string getTranslation(const std::string& englishText) const;

    void setLanguage(const std::string& language);
    std::string getLanguage() const;

private:
    struct Catalogue {
        std::string domain;
        std::map<std::string, std::string> entries;
    };
    mutable std::mutex m_mutex;
    std::string m_language;
    std::map<std::string, Catalogue> m_catalogues;  // by archive path
};

}  // namespace Misc

Misc::PoManager& PoManager();

}  // namespace Orvane
