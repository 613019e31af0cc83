// The explorer's folder listings: what they show, in which order, and what
// they refuse to show, read back through a real XML parser.
#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/NodeList.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "TestSupport.h"
#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"
#include "orvane/Util.h"

using namespace Orvane::Util;
using Orvane::API::ProfileManager;
using TestSupport::TempDir;

namespace {

struct Listed {
    std::string name, path, fullfilename, dirpath, type, ext, size, fullsize, modified;
    bool writable = false;
    bool hasSize = false;
};

std::string childText(Poco::XML::Element* parent, const std::string& tag) {
    Poco::XML::Element* e = parent->getChildElement(tag);
    return e ? e->innerText() : "";
}

class Listing {
public:
    explicit Listing(const std::string& xml) : m_doc(Poco::XML::DOMParser().parseString(xml)) {}

    std::string meta(const std::string& tag) const {
        return childText(m_doc->documentElement()->getChildElement("meta"), tag);
    }
    std::vector<Listed> entries() const {
        std::vector<Listed> out;
        Poco::AutoPtr<Poco::XML::NodeList> nodes = m_doc->getElementsByTagName("entry");
        for (unsigned long i = 0; i < nodes->length(); ++i) {
            auto* e = static_cast<Poco::XML::Element*>(nodes->item(i));
            Listed l;
            l.name = childText(e, "name");
            l.path = childText(e, "path");
            l.fullfilename = childText(e, "fullfilename");
            l.dirpath = childText(e, "dirpath");
            l.type = childText(e, "type");
            l.ext = childText(e, "ext");
            l.size = childText(e, "size");
            l.fullsize = childText(e, "fullsize");
            l.modified = childText(e, "modified");
            l.writable = childText(e, "writable") == "1";
            l.hasSize = e->getChildElement("size") != nullptr;
            out.push_back(l);
        }
        return out;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : entries())
            out.push_back(e.name);
        return out;
    }

private:
    Poco::AutoPtr<Poco::XML::Document> m_doc;
};

typedef std::vector<std::string> Names;

class CorvelListing : public ::testing::Test {
protected:
    void SetUp() override {
        ProfileManager::loadProfile(m_temp.path() + "/profile");
        m_root = m_temp.mkdir("share");
        m_temp.write("share/b-song.MP3", std::string(1536, 'x'));
        m_temp.write("share/a-photo.jpg", "jpg");
        m_temp.write("share/C-notes.txt", "");
        m_temp.write("share/.hidden", "h");
        m_temp.write("share/odd <&> \"name\".png", "p");
        m_temp.write("share/Album/inner.flac", "ffff");
        m_temp.write("share/zeta/deep/leaf.ogg", "o");
        ::mkfifo((m_root + "/fifo").c_str(), 0600);
        ::symlink((m_temp.path() + "/profile").c_str(), (m_root + "/profile-link").c_str());
    }
    void TearDown() override { ProfileManager::unloadProfile(); }

    Listing list(const std::string& filter = "", const std::string& search = "", int start = 0,
                 int limit = -1, int sortBy = 0, int sortOrder = 0, int writable = 0,
                 int showHidden = 0, bool recursive = false) {
        return Listing(getFileListXML(m_root, start, limit, filter, search, sortBy, sortOrder,
                                      writable, showHidden, recursive));
    }

    TempDir m_temp;
    std::string m_root;
};

}  // namespace

TEST_F(CorvelListing, FoldersFirstThenFilesByNameWithoutRefusedEntries) {
    Listing l = list();
    EXPECT_EQ(m_root, l.meta("parentpath"));
    EXPECT_EQ("0", l.meta("isroot"));
    EXPECT_EQ("6", l.meta("total"));
    EXPECT_EQ((Names{"Album", "zeta", "a-photo.jpg", "b-song.MP3", "C-notes.txt",
                     "odd <&> \"name\".png"}),
              l.names())
        << "hidden, fifo and the link into the profile stay out";
}

TEST_F(CorvelListing, EntryFields) {
    std::vector<Listed> entries = list().entries();
    ASSERT_EQ(6u, entries.size());
    const Listed& dir = entries[0];
    EXPECT_EQ("dir", dir.type);
    EXPECT_EQ("n/a", dir.ext);
    EXPECT_EQ(m_root + "/Album", dir.path);
    EXPECT_EQ(m_root + "/Album", dir.dirpath);
    EXPECT_FALSE(dir.hasSize);
    const Listed& song = entries[3];
    EXPECT_EQ("file", song.type);
    EXPECT_EQ("mp3", song.ext);
    EXPECT_EQ("1.50 KB", song.size);
    EXPECT_EQ("1536", song.fullsize);
    EXPECT_EQ(m_root + "/b-song.MP3", song.path);
    EXPECT_EQ(song.path, song.fullfilename);
    EXPECT_EQ(m_root, song.dirpath);
    struct stat st;
    ASSERT_EQ(0, ::stat(song.path.c_str(), &st));
    EXPECT_EQ(localNiceTimeStrFromUTCTime(Poco::Timestamp::fromEpochTime(st.st_mtime)),
              song.modified);
    EXPECT_EQ("0 B", entries[4].size);
    EXPECT_EQ(m_root + "/odd <&> \"name\".png", entries[5].path);
    EXPECT_FALSE(song.writable);
}

TEST_F(CorvelListing, WritableOnlyWhenAskedAndPossible) {
    const std::string readOnly = m_temp.write("share/locked.txt", "r");
    ::chmod(readOnly.c_str(), 0444);
    // The folder itself says whether new items may go in, even when empty.
    EXPECT_EQ("1", list("", "", 0, -1, 0, 0, 1).meta("writable"));
    EXPECT_EQ("", list().meta("writable"));
    for (const Listed& e : list("", "", 0, -1, 0, 0, 1).entries()) {
        const bool canWrite = ::access(e.path.c_str(), W_OK) == 0;
        EXPECT_EQ(canWrite, e.writable) << e.name;
        if (e.name == "locked.txt" && ::geteuid() != 0) {
            EXPECT_FALSE(e.writable);
        }
        if (e.name == "a-photo.jpg") {
            EXPECT_TRUE(e.writable);
        }
    }
}

TEST_F(CorvelListing, FilterSearchPagingAndHidden) {
    EXPECT_EQ((Names{"Album", "zeta", "b-song.MP3"}), list("audio").names());
    EXPECT_EQ((Names{"Album", "zeta", "a-photo.jpg", "odd <&> \"name\".png"}),
              list("pictures").names());
    EXPECT_EQ(6u, list("usbdrives").names().size());
    EXPECT_EQ((Names{"b-song.MP3"}), list("", "SONG").names());
    EXPECT_EQ((Names{"Album", "zeta", "a-photo.jpg", "odd <&> \"name\".png"}),
              list("", "a").names());
    Listing page = list("", "", 2, 2);
    EXPECT_EQ("6", page.meta("total"));
    EXPECT_EQ((Names{"a-photo.jpg", "b-song.MP3"}), page.names());
    EXPECT_TRUE(list("", "", 10, 5).names().empty());
    EXPECT_TRUE(list("", "", 0, 0).names().empty());
    Names withHidden = list("", "", 0, -1, 0, 0, 0, 1).names();
    EXPECT_EQ(".hidden", withHidden[2]);
    EXPECT_EQ(7u, withHidden.size());
}

TEST_F(CorvelListing, SortingAndRecursion) {
    EXPECT_EQ((Names{"zeta", "Album", "odd <&> \"name\".png", "C-notes.txt", "b-song.MP3",
                     "a-photo.jpg"}),
              list("", "", 0, -1, 0, 1).names());
    EXPECT_EQ((Names{"Album", "zeta", "C-notes.txt", "odd <&> \"name\".png", "a-photo.jpg",
                     "b-song.MP3"}),
              list("", "", 0, -1, 1, 0).names());
    Names all = list("audio", "", 0, -1, 0, 0, 0, 0, true).names();
    EXPECT_EQ((Names{"Album", "deep", "zeta", "b-song.MP3", "inner.flac", "leaf.ogg"}), all);
}

TEST_F(CorvelListing, RefusedFolders) {
    EXPECT_THROW(getFileListXML(m_root + "/../share", 0, -1, "", "", 0, 0, 0, 0, false),
                 Orvane::Exception);
    EXPECT_THROW(getFileListXML(m_root + "/..", 0, -1, "", "", 0, 0, 0, 0, false),
                 Orvane::Exception);
    EXPECT_THROW(getFileListXML(m_root + "/a-photo.jpg", 0, -1, "", "", 0, 0, 0, 0, false),
                 Orvane::Exception);
    EXPECT_THROW(getFileListXML(m_root + "/missing", 0, -1, "", "", 0, 0, 0, 0, false),
                 Orvane::Exception);
    EXPECT_THROW(getFileListXML("/proc", 0, -1, "", "", 0, 0, 0, 0, false), Orvane::Exception);
    EXPECT_THROW(getFileListXML(m_root + "/profile-link", 0, -1, "", "", 0, 0, 0, 0, false),
                 Orvane::Exception);
    EXPECT_THROW(getFileListXML("relative", 0, -1, "", "", 0, 0, 0, 0, false), Orvane::Exception);
    EXPECT_THROW(getDirectoryListXML(m_root + "/../share"), Orvane::Exception);
    EXPECT_THROW(getDirectoryListXML(ProfileManager::getProfileRootDir()), Orvane::Exception);
}

TEST_F(CorvelListing, DirectoryList) {
    m_temp.mkdir("share/.git");
    m_temp.mkdir("share/<b>");
    Poco::AutoPtr<Poco::XML::Document> doc =
        Poco::XML::DOMParser().parseString(getDirectoryListXML(m_root + "/"));
    Poco::AutoPtr<Poco::XML::NodeList> dirs = doc->getElementsByTagName("directory");
    Names names;
    for (unsigned long i = 0; i < dirs->length(); ++i) {
        auto* e = static_cast<Poco::XML::Element*>(dirs->item(i));
        names.push_back(childText(e, "name"));
        EXPECT_EQ(m_root + "/" + names.back(), childText(e, "path"));
        EXPECT_EQ(childText(e, "path"), childText(e, "dirpath"));
    }
    EXPECT_EQ((Names{"<b>", "Album", "zeta"}), names);
}
