// The translation service. A catalogue is the <language>.po of one archive,
// read when the archive is added and again when the language changes.
#include "orvane/PoManager.h"

#include <Poco/Logger.h>

#include <cstdlib>
#include <sstream>

#include "orvane/Exception.h"
#include "orvane/Util.h"
#include "orvane/VirtualFS.h"

namespace Orvane {
namespace Misc {
namespace {

typedef std::map<std::string, std::string> Entries;

// The language part of a locale name: "de_DE.UTF-8" is "de".
std::string languagePart(const std::string& locale) {
    std::string lang = locale.substr(0, locale.find_first_of("_.@"));
    for (char& c : lang) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lang;
}

std::string defaultLanguage() {
    const char* env = std::getenv("LANG");
    const std::string lang = env ? languagePart(env) : "";
    return lang.empty() || lang == "c" || lang == "posix" ? "en" : lang;
}

// One escape starting after the backslash at text[i]; returns the index after it.
std::size_t unescapeOne(const std::string& text, std::size_t i, std::string& out) {
    const char c = text[i];
    static const std::string simple = "ntrabfv";
    static const std::string values = "\n\t\r\a\b\f\v";
    const std::size_t s = simple.find(c);
    if (s != std::string::npos) {
        out += values[s];
        return i + 1;
    }
    if (c >= '0' && c <= '7') {
        int value = 0;
        std::size_t k = i;
        for (; k < text.size() && k < i + 3 && text[k] >= '0' && text[k] <= '7'; ++k) {
            value = value * 8 + (text[k] - '0');
        }
        out += static_cast<char>(value & 0xFF);
        return k;
    }
    if (c == 'x' && i + 1 < text.size() && Util::hexValue(text[i + 1]) >= 0) {
        int value = 0;
        std::size_t k = i + 1;
        for (; k < text.size() && k < i + 3 && Util::hexValue(text[k]) >= 0; ++k) {
            value = value * 16 + Util::hexValue(text[k]);
        }
        out += static_cast<char>(value);
        return k;
    }
    out += c;  // \" \\ and anything unknown stand for the character itself
    return i + 1;
}

// The text of a quoted .po string ("..." with C escapes); false when the line
// holds none.
bool quotedText(const std::string& line, std::string& out) {
    const std::size_t open = line.find('"');
    const std::size_t close = line.rfind('"');
    if (open == std::string::npos || close == open)
        return false;
    out.clear();
    for (std::size_t i = open + 1; i < close;) {
        if (line[i] == '\\' && i + 1 < close) {
            i = unescapeOne(line, i + 1, out);
        } else {
            out += line[i++];
        }
    }
    return true;
}

// Builds the catalogue entry by entry; an entry ends where the next begins.
class PoParser {
public:
    explicit PoParser(Entries& entries) : m_entries(entries) {}

    void line(const std::string& raw) {
        std::string text = raw;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        const std::size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos)
            return;
        text.erase(0, first);
        if (text[0] == '#') {
            if (text.compare(0, 2, "#,") == 0 && text.find("fuzzy") != std::string::npos) {
                flush();
                m_fuzzy = true;
            }
            return;
        }
        std::string value;
        if (text[0] == '"') {
            if (m_current && quotedText(text, value))
                *m_current += value;
            return;
        }
        keyword(text);
    }

    void finish() { flush(); }

private:
    void keyword(const std::string& text) {
        const std::string word = text.substr(0, text.find_first_of(" \t\""));
        std::string value;
        quotedText(text, value);
        if (word == "msgctxt" || (word == "msgid" && m_state != None))
            flush();
        if (word == "msgctxt") {
            m_context = true;
            m_current = nullptr;
        } else if (word == "msgid") {
            m_id = value;
            m_state = Id;
            m_current = &m_id;
        } else if (word == "msgstr" || word == "msgstr[0]") {
            m_str = value;
            m_state = Str;
            m_current = &m_str;
        } else {
            m_current = nullptr;  // msgid_plural, msgstr[n]: only the singular is kept
        }
    }

    void flush() {
        // The header (empty id), fuzzy guesses, untranslated and context-bound
        // entries are not translations of a plain text.
        if (m_state == Str && !m_id.empty() && !m_str.empty() && !m_fuzzy && !m_context) {
            m_entries[m_id] = m_str;
        }
        m_id.clear();
        m_str.clear();
        m_state = None;
        m_current = nullptr;
        m_fuzzy = false;
        m_context = false;
    }

    enum State { None, Id, Str };
    Entries& m_entries;
    std::string m_id, m_str;
    std::string* m_current = nullptr;
    State m_state = None;
    bool m_fuzzy = false;
    bool m_context = false;
};

Entries parsePo(const std::string& text) {
    Entries entries;
    PoParser parser(entries);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        parser.line(line);
    parser.finish();
    return entries;
}

// Throws Orvane::Exception when the archive cannot be read; an archive without
// the language's catalogue gives none (English needs none). A regional
// language ("pt_BR") falls back to its language's catalogue ("pt").
Entries readCatalogue(const std::string& zipPath, const std::string& language) {
    Util::VirtualFS vfs;
    vfs.setArchive(zipPath);
    std::string text;
    std::size_t size = 0;
    vfs.readFile(language + ".po", text, size);
    if (size == 0 && language.find('_') != std::string::npos) {
        vfs.readFile(languagePart(language) + ".po", text, size);
    }
    return size == 0 ? Entries() : parsePo(text);
}

}  // namespace

bool PoManager::addPoVfs(const std::string& zipPath, const std::string& domain) {
    for (;;) {
        const std::string language = getLanguage();
        Catalogue catalogue;
        catalogue.domain = domain;
        try {
            catalogue.entries = readCatalogue(zipPath, language);
        } catch (const Orvane::Exception& e) {
            Poco::Logger::root().error("Cannot read translations " + zipPath + ": " + e.message());
            return false;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        // Read again if the language changed meanwhile.
        if ((m_language.empty() ? defaultLanguage() : m_language) != language)
            continue;
        m_catalogues[zipPath] = catalogue;
        return true;
    }
}

bool PoManager::removePoVfs(const std::string& zipPath) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_catalogues.erase(zipPath) != 0;
}

std::string PoManager::getTranslation(const std::string& englishText) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& archive : m_catalogues) {
        auto it = archive.second.entries.find(englishText);
        if (it != archive.second.entries.end())
            return it->second;
    }
    return englishText;
}

void PoManager::setLanguage(const std::string& language) {
    std::map<std::string, Catalogue> archives;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_language = language;
        archives = m_catalogues;
    }
    // Catalogues already added follow the new language; they are read without
    // the lock, so translations keep being served meanwhile.
    const std::string effective = getLanguage();
    for (auto& archive : archives) {
        try {
            archive.second.entries = readCatalogue(archive.first, effective);
        } catch (const Orvane::Exception&) {
            archive.second.entries.clear();
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_language != language)
        return;  // a later call won; its catalogues stand
    for (auto& archive : archives) {
        auto it = m_catalogues.find(archive.first);
        if (it != m_catalogues.end())
            it->second.entries = archive.second.entries;
    }
}

std::string PoManager::getLanguage() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_language.empty() ? defaultLanguage() : m_language;
}

}  // namespace Misc

Misc::PoManager& PoManager() {
    static Misc::PoManager manager;
    return manager;
}

}  // namespace Orvane
