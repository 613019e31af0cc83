// Translations read from .po catalogues inside real zip archives.
#include <Poco/FileStream.h>
#include <Poco/Zip/Compress.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "TestSupport.h"
#include "orvane/PoManager.h"

using Orvane::Misc::PoManager;
using TestSupport::TempDir;

namespace {

const char* const kGerman =
    "# German translations\n"
    "msgid \"\"\n"
    "msgstr \"\"\n"
    "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
    "\n"
    "#: SharePage.cpp:10\n"
    "msgid \"Download\"\n"
    "msgstr \"Herunterladen\"\n"
    "\n"
    "msgid \"\"\n"
    "\"A long text \"\n"
    "\"over two lines\"\n"
    "msgstr \"\"\n"
    "\"Ein langer Text \"\n"
    "\"\xC3\xBC"
    "ber zwei Zeilen\"\n"
    "\n"
    "msgid \"Say \\\"hi\\\"\\tnow\\n\"\n"
    "msgstr \"Sag \\\"hallo\\\"\\tjetzt\\n\\\\\"\n"
    "\r\n"
    "msgid \"Octal\"\n"
    "msgstr \"\\303\\244 \\xc3\\xb6\"\n"
    "\n"
    "#, fuzzy\n"
    "msgid \"Guess\"\n"
    "msgstr \"Vermutung\"\n"
    "\n"
    "msgid \"Untranslated\"\n"
    "msgstr \"\"\n"
    "\n"
    "msgctxt \"menu\"\n"
    "msgid \"File\"\n"
    "msgstr \"Ablage\"\n"
    "\n"
    "msgid \"One file\"\n"
    "msgid_plural \"%d files\"\n"
    "msgstr[0] \"Eine Datei\"\n"
    "msgstr[1] \"%d Dateien\"\n"
    "#~ msgid \"Old\"\n"
    "#~ msgstr \"Alt\"\n";

std::string makeZip(const TempDir& temp, const std::string& name,
                    const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string path = temp.path() + "/" + name;
    Poco::FileOutputStream out(path, std::ios::out | std::ios::trunc | std::ios::binary);
    Poco::Zip::Compress zip(out, true);
    for (const auto& f : files) {
        std::istringstream in(f.second);
        zip.addFile(in, Poco::DateTime(), Poco::Path(f.first, Poco::Path::PATH_UNIX));
    }
    zip.close();
    return path;
}

// Sets LANG for the test's lifetime and restores it afterwards.
class LangScope {
public:
    explicit LangScope(const char* value) {
        const char* old = std::getenv("LANG");
        m_had = old != nullptr;
        if (old)
            m_old = old;
        if (value) {
            ::setenv("LANG", value, 1);
        } else {
            ::unsetenv("LANG");
        }
    }
    ~LangScope() {
        if (m_had) {
            ::setenv("LANG", m_old.c_str(), 1);
        } else {
            ::unsetenv("LANG");
        }
    }

private:
    bool m_had = false;
    std::string m_old;
};

}  // namespace

TEST(CorvelPoManager, ParsesCatalogueEntries) {
    TempDir temp;
    const std::string zip = makeZip(temp, "translations.zip", {{"de.po", kGerman}});
    PoManager po;
    po.setLanguage("de");
    ASSERT_TRUE(po.addPoVfs(zip, "dapplinepro"));
    EXPECT_EQ("Herunterladen", po.getTranslation("Download"));
    EXPECT_EQ(
        "Ein langer Text \xC3\xBC"
        "ber zwei Zeilen",
        po.getTranslation("A long text over two lines"));
    EXPECT_EQ("Sag \"hallo\"\tjetzt\n\\", po.getTranslation("Say \"hi\"\tnow\n"));
    EXPECT_EQ("\xC3\xA4 \xC3\xB6", po.getTranslation("Octal"));
    EXPECT_EQ("Eine Datei", po.getTranslation("One file"));
    // Not translations of a plain text: fuzzy guesses, empty strings, context-bound
    // entries, obsolete entries and the header.
    EXPECT_EQ("Guess", po.getTranslation("Guess"));
    EXPECT_EQ("Untranslated", po.getTranslation("Untranslated"));
    EXPECT_EQ("File", po.getTranslation("File"));
    EXPECT_EQ("Old", po.getTranslation("Old"));
    EXPECT_EQ("", po.getTranslation(""));
    EXPECT_EQ("Never seen", po.getTranslation("Never seen"));
}

TEST(CorvelPoManager, LanguageChoice) {
    PoManager po;
    {
        LangScope lang("de_DE.UTF-8");
        EXPECT_EQ("de", po.getLanguage());
    }
    {
        LangScope lang("fr");
        EXPECT_EQ("fr", po.getLanguage());
    }
    {
        LangScope lang("C.UTF-8");
        EXPECT_EQ("en", po.getLanguage());
    }
    {
        LangScope lang(nullptr);
        EXPECT_EQ("en", po.getLanguage());
        po.setLanguage("es");
        EXPECT_EQ("es", po.getLanguage());
        po.setLanguage("");
        EXPECT_EQ("en", po.getLanguage());
    }
}

TEST(CorvelPoManager, FollowsTheLanguage) {
    TempDir temp;
    LangScope lang("de_AT.UTF-8");
    const std::string zip = makeZip(temp, "t.zip",
                                    {{"de.po", "msgid \"Yes\"\nmsgstr \"Ja\"\n"},
                                     {"pt.po", "msgid \"Yes\"\nmsgstr \"Sim\"\n"}});
    PoManager po;
    ASSERT_TRUE(po.addPoVfs(zip, "dapplinepro"));
    EXPECT_EQ("Ja", po.getTranslation("Yes")) << "LANG gives the language";
    po.setLanguage("pt_BR");
    EXPECT_EQ("Sim", po.getTranslation("Yes")) << "a region falls back to its language";
    po.setLanguage("en");
    EXPECT_EQ("Yes", po.getTranslation("Yes"));
    po.setLanguage("it");
    EXPECT_EQ("Yes", po.getTranslation("Yes")) << "no catalogue for it";
    EXPECT_TRUE(po.removePoVfs(zip));
    EXPECT_FALSE(po.removePoVfs(zip));
    po.setLanguage("de");
    EXPECT_EQ("Yes", po.getTranslation("Yes"));
}

TEST(CorvelPoManager, ArchivesThatCannotBeRead) {
    TempDir temp;
    PoManager po;
    po.setLanguage("en");
    EXPECT_FALSE(po.addPoVfs(temp.path() + "/missing.zip", "dapplinepro"));
    EXPECT_FALSE(po.addPoVfs(temp.write("bad.zip", "no zip"), "dapplinepro"));
    EXPECT_FALSE(po.removePoVfs(temp.path() + "/missing.zip"));
    po.setLanguage("de");
    EXPECT_FALSE(po.addPoVfs(temp.path() + "/missing.zip", "dapplinepro"));
    const std::string empty = makeZip(temp, "other.zip", {{"readme.txt", "x"}});
    EXPECT_TRUE(po.addPoVfs(empty, "dapplinepro")) << "no catalogue for the language is fine";
    EXPECT_EQ("Download", po.getTranslation("Download"));
}
