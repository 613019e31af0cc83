// Path, text, time and network helpers of libcorvel, on real files.
#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/File.h>
#include <Poco/SAX/SAXException.h>
#include <Poco/Timestamp.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "TestSupport.h"
#include "orvane/FolderScreen.h"
#include "orvane/ProfileManager.h"
#include "orvane/Util.h"

using namespace Orvane::Util;
using Orvane::API::ProfileManager;
using TestSupport::TempDir;

namespace {

std::string localDisplay(std::time_t t) {
    std::tm tm;
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M", &tm);
    return buf;
}

// Loads a profile in a temporary folder for the test's lifetime.
class ProfileScope {
public:
    ProfileScope() : m_dir(m_temp.path() + "/profile") { ProfileManager::loadProfile(m_dir); }
    ~ProfileScope() { ProfileManager::unloadProfile(); }
    const std::string& dir() const { return m_dir; }
    const TempDir& temp() const { return m_temp; }

private:
    TempDir m_temp;
    std::string m_dir;
};

}  // namespace

TEST(CorvelPathUtil, ConvertPathToNativeCollapsesSeparators) {
    EXPECT_EQ("/a/b/c", convertPathToNative("/a//b///c/"));
    EXPECT_EQ("/", convertPathToNative("/"));
    EXPECT_EQ("/", convertPathToNative("///"));
    EXPECT_EQ("", convertPathToNative(""));
    EXPECT_EQ("a/b", convertPathToNative("a/b/"));
    // ".." is a name like any other here; it is resolved only where paths are judged.
    EXPECT_EQ("/a/../b", convertPathToNative("/a/../b"));
    EXPECT_EQ("/a/b", translatePath("/a//b/"));
}

TEST(CorvelPathUtil, SplitFolderAndEndingSeparator) {
    std::string name, folder;
    splitFolder("/a/b/c.jpg", name, folder);
    EXPECT_EQ("c.jpg", name);
    EXPECT_EQ("/a/b", folder);
    splitFolder("/a/b/", name, folder);
    EXPECT_EQ("b", name);
    EXPECT_EQ("/a", folder);
    splitFolder("/c.jpg", name, folder);
    EXPECT_EQ("c.jpg", name);
    EXPECT_EQ("/", folder);
    splitFolder("plain.txt", name, folder);
    EXPECT_EQ("plain.txt", name);
    EXPECT_EQ("", folder);

    EXPECT_EQ("/a/", addEndingSeparator("/a"));
    EXPECT_EQ("/a/", addEndingSeparator("/a/"));
    EXPECT_EQ("/", addEndingSeparator("/"));
    EXPECT_EQ("", addEndingSeparator(""));
}

TEST(CorvelPathUtil, PathWithinComparesWholeComponents) {
    EXPECT_TRUE(isPathWithin("/a/b", "/a/b"));
    EXPECT_TRUE(isPathWithin("/a/b/", "/a/b"));
    EXPECT_TRUE(isPathWithin("/a/b/c", "/a/b"));
    EXPECT_TRUE(isPathWithin("/a/b/c", "/a/b/"));
    EXPECT_TRUE(isPathWithin("/anything", "/"));
    EXPECT_FALSE(isPathWithin("/a/bc", "/a/b"));
    EXPECT_FALSE(isPathWithin("/a", "/a/b"));
    EXPECT_FALSE(isPathWithin("/a/b/../c", "/a/b"));
    EXPECT_TRUE(isPathWithin("/a/x/../b/c", "/a/b"));
    EXPECT_FALSE(isPathWithin("a/b", "/a"));
    EXPECT_FALSE(isPathWithin("/a/b", ""));
}

TEST(CorvelPathUtil, AllowedPathRefusesSystemAreasAndRelativePaths) {
    EXPECT_TRUE(isAllowedPath("/", false, false));
    EXPECT_TRUE(isAllowedPath("/home/someone/pictures", false, true));
    EXPECT_FALSE(isAllowedPath("", false, false));
    EXPECT_FALSE(isAllowedPath("relative/path", false, false));
    EXPECT_FALSE(isAllowedPath("./x", false, false));
    for (const char* refused : {"/proc", "/proc/self/environ", "/sys/kernel", "/dev", "/dev/null",
                                "/run", "/run/lock", "//proc//1", "/proc/"}) {
        EXPECT_FALSE(isAllowedPath(refused, true, false)) << refused;
    }
    // Whole components only.
    EXPECT_TRUE(isAllowedPath("/processes", false, false));
    EXPECT_TRUE(isAllowedPath("/devices/x", false, false));
    // Judged on the resolved form.
    EXPECT_FALSE(isAllowedPath("/tmp/../proc/self", false, false));
    EXPECT_FALSE(isAllowedPath("/../../dev/sda", false, false));
    EXPECT_TRUE(isAllowedPath("/proc/../tmp", false, false));
    EXPECT_FALSE(isAllowedPath(std::string("/tmp/a\0/proc", 12), false, false));
}

TEST(CorvelPathUtil, AllowedPathLeavesHiddenNamesToTheCaller) {
    EXPECT_TRUE(isAllowedPath("/home/someone/.config", false, false));
    EXPECT_TRUE(isAllowedPath("/home/someone/.config", true, false));
}

TEST(CorvelPathUtil, AllowedPathRefusesTheProfileAndLinksIntoIt) {
    ProfileScope profile;
    const TempDir& temp = profile.temp();
    const std::string token = profile.dir() + "/owner.token";
    EXPECT_FALSE(isAllowedPath(profile.dir(), false, true));
    EXPECT_FALSE(isAllowedPath(token, false, true));
    EXPECT_FALSE(isAllowedPath(profile.dir() + "/", false, true));
    EXPECT_FALSE(isAllowedPath(temp.path() + "/x/../profile/owner.token", false, true));
    EXPECT_TRUE(isAllowedPath(token, false, false));
    EXPECT_TRUE(isAllowedPath(temp.path() + "/profile-other", false, true));
    EXPECT_TRUE(isAllowedPath(temp.path(), false, true));

    // A shared folder holding a link to the profile must not open it.
    const std::string share = temp.mkdir("share");
    ASSERT_EQ(0, ::symlink(profile.dir().c_str(), (share + "/link").c_str()));
    EXPECT_FALSE(isAllowedPath(share + "/link", false, true));
    EXPECT_FALSE(isAllowedPath(share + "/link/owner.token", false, true));
    EXPECT_FALSE(isAllowedPath(share + "/link/not/made/yet", false, true));
    EXPECT_TRUE(isAllowedPath(share + "/not-made-yet", false, true));
    ASSERT_EQ(0, ::symlink("/proc", (share + "/sys-link").c_str()));
    EXPECT_FALSE(isAllowedPath(share + "/sys-link/self", false, false));
}

// Every share request asks the two checks in one: it must answer exactly as
// they did together, on the lexical and the resolved form alike.
TEST(CorvelPathUtil, AllowedPathWithinAnswersAsBothChecks) {
    ProfileScope profile;
    const TempDir& temp = profile.temp();
    const std::string top = temp.path();
    temp.mkdir("real/share/sub");
    temp.write("real/share/plain.txt", "x");
    temp.write("outside.txt", "x");
    temp.write("profile/owner.token", "x");
    ASSERT_EQ(0, ::symlink((top + "/real").c_str(), (top + "/via").c_str()));
    const std::string share = top + "/via/share";
    const std::vector<std::pair<std::string, std::string>> links = {
        {share + "/inner", "sub"},
        {share + "/out", top + "/outside.txt"},
        {share + "/dangling", "/nowhere/at/all"},
        {share + "/to-profile", profile.dir()},
        {share + "/to-proc", "/proc/self"},
        {profile.dir() + "/way-out", top + "/outside.txt"},
    };
    for (const auto& link : links)
        ASSERT_EQ(0, ::symlink(link.second.c_str(), link.first.c_str())) << link.first;

    struct Case {
        std::string path, base;
        bool expected;
    };
    const std::vector<Case> cases = {
        {share + "/plain.txt", share, true},
        {share, share, true},
        {share + "/", share, true},
        {share + "/sub/../plain.txt", share, true},
        {share + "/inner/not-made-yet", share, true},
        {share + "/not-made-yet/deeper", share, true},
        {share + "/../../outside.txt", share, false},
        {share + "/out", share, false},
        {share + "/dangling", share, false},
        {share + "/to-profile/owner.token", share, false},
        {top + "/real/share/plain.txt", share, false},
        {"via/share/plain.txt", share, false},
        {std::string("/tmp\0/x", 7), "/", false},
        // Within the base however resolved, yet refused as a place.
        {share + "/out", top, true},
        {share + "/to-profile/owner.token", top, false},
        {profile.dir() + "/way-out", top, false},
        {share + "/to-proc", "/", false},
        {"/proc/self", "/", false},
    };
    for (const Case& c : cases) {
        const bool pair =
            isPathWithinResolved(c.path, c.base) && isAllowedPath(c.path, false, true);
        EXPECT_EQ(c.expected, pair) << c.path << " in " << c.base;
        EXPECT_EQ(pair, isAllowedPathWithin(c.path, c.base)) << c.path << " in " << c.base;
    }
}

TEST(CorvelPathUtil, AllowedFileOnlyRegularFilesAndFolders) {
    TempDir temp;
    const std::string file = temp.write("f.txt", "x");
    const std::string dir = temp.mkdir("d");
    const std::string fifo = temp.path() + "/fifo";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_TRUE(isAllowedFile(file));
    EXPECT_TRUE(isAllowedFile(dir));
    EXPECT_FALSE(isAllowedFile(fifo));
    EXPECT_FALSE(isAllowedFile("/dev/null"));
    EXPECT_FALSE(isAllowedFile(temp.path() + "/missing"));

    const std::string sock = temp.path() + "/sock";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", sock.c_str());
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    EXPECT_FALSE(isAllowedFile(sock));
    ::close(fd);

    // Links are judged by their target.
    ASSERT_EQ(0, ::symlink(file.c_str(), (temp.path() + "/to-file").c_str()));
    ASSERT_EQ(0, ::symlink(fifo.c_str(), (temp.path() + "/to-fifo").c_str()));
    ASSERT_EQ(0, ::symlink("/nowhere/at/all", (temp.path() + "/dangling").c_str()));
    EXPECT_TRUE(isAllowedFile(temp.path() + "/to-file"));
    EXPECT_FALSE(isAllowedFile(temp.path() + "/to-fifo"));
    EXPECT_FALSE(isAllowedFile(temp.path() + "/dangling"));
}

// The listing's quick screen must decide every entry as the full path
// checks decide it, whatever the entry is and wherever a link leads. The
// listed folder is reached through a link too, so that its own resolved
// form differs from the text.
TEST(CorvelPathUtil, FolderScreenDecidesAsTheFullChecks) {
    ProfileScope profile;
    const TempDir& temp = profile.temp();
    const std::string real = temp.mkdir("real");
    ASSERT_EQ(0, ::symlink(real.c_str(), (temp.path() + "/via").c_str()));
    const std::string share = temp.path() + "/via/share";
    Poco::File(share + "/sub").createDirectories();
    Poco::File(profile.dir()).createDirectories();
    temp.write("real/share/plain.txt", "x");
    temp.write("real/share/.hidden", "x");
    temp.write("outside.txt", "x");
    ASSERT_EQ(0, ::mkfifo((share + "/fifo").c_str(), 0600));
    const std::vector<std::pair<std::string, std::string>> links = {
        {"inner", share + "/plain.txt"},
        {"inner-dir", "sub"},
        {"out", temp.path() + "/outside.txt"},
        {"up", ".."},
        {"dangling", "/nowhere/at/all"},
        {"to-profile", profile.dir()},
        {"to-token", profile.dir() + "/owner.token"},
        {"to-fifo", "fifo"},
        {"to-proc", "/proc/self"},
    };
    for (const auto& link : links)
        ASSERT_EQ(0, ::symlink(link.second.c_str(), (share + "/" + link.first).c_str()));

    std::map<std::string, bool> shown;
    for (const std::string& confine : {share, std::string()}) {
        const FolderScreen screen(share, confine);
        std::vector<std::string> names;
        Poco::File(share).list(names);
        ASSERT_EQ(13u, names.size());
        for (const std::string& name : names) {
            const std::string path = share + "/" + name;
            const bool link = Poco::File(path).isLink();
            const bool expected = isAllowedPath(path, true, true) && isAllowedFile(path) &&
                                  (!link || confine.empty() || isPathWithinResolved(path, confine));
            struct stat st;
            bool isLink = !link;
            EXPECT_EQ(expected, screen.allows(name, st, isLink)) << name << " in " << confine;
            if (expected) {
                EXPECT_EQ(link, isLink) << name;
                EXPECT_EQ(Poco::File(path).isDirectory(), S_ISDIR(st.st_mode)) << name;
            }
            if (!confine.empty())
                shown[name] = expected;
        }
        struct stat st;
        bool isLink = false;
        EXPECT_FALSE(screen.allows("..", st, isLink));
        EXPECT_FALSE(screen.allows("sub/../plain.txt", st, isLink));
    }
    // What the comparison rests on, spelled out.
    EXPECT_TRUE(shown["plain.txt"] && shown["sub"] && shown["inner"] && shown["inner-dir"] &&
                shown[".hidden"]);
    EXPECT_FALSE(shown["out"] || shown["up"] || shown["dangling"] || shown["to-profile"] ||
                 shown["to-token"] || shown["fifo"] || shown["to-fifo"] || shown["to-proc"]);

    // A profile kept inside the listed folder is not listed either.
    const FolderScreen parent(temp.path(), temp.path());
    struct stat st;
    bool isLink = false;
    EXPECT_FALSE(parent.allows("profile", st, isLink));
    EXPECT_TRUE(parent.allows("outside.txt", st, isLink));
    EXPECT_FALSE(FolderScreen("relative/folder", "").allows("x", st, isLink));
}

TEST(CorvelPathUtil, CustomPermissions) {
    TempDir temp;
    const std::string file = temp.write("f.zip", "x");
    const std::string dir = temp.mkdir("d");
    ::chmod(file.c_str(), 0600);
    ::chmod(dir.c_str(), 0700);
    struct stat st;
    ASSERT_TRUE(setCustomPermissions(file, false));
    ASSERT_EQ(0, ::stat(file.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);
    ASSERT_TRUE(setCustomPermissions(dir, true));
    ASSERT_EQ(0, ::stat(dir.c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);
    EXPECT_FALSE(setCustomPermissions(temp.path() + "/missing", false));
    EXPECT_TRUE(isFixedDrive("C:"));
}

TEST(CorvelTextUtil, SanitizeAndTrim) {
    EXPECT_EQ("Holiday 2024", sanitizeString("Holi\x01"
                                             "day\t 2024\x7f",
                                             false));
    EXPECT_EQ("ab", sanitizeString("a/\\b", false));
    EXPECT_EQ("a/\\b", sanitizeString("a/\\b", true));
    EXPECT_EQ("line", sanitizeString("li\r\nne", true));
    EXPECT_EQ("Fotos \xC3\xA4", sanitizeString("Fotos \xC3\xA4", false));

    EXPECT_EQ("a b", trim(" \t\r\na b\n\v\f "));
    EXPECT_EQ("", trim(" \t "));
    EXPECT_EQ("x", trim("x"));
}

TEST(CorvelTextUtil, Validation) {
    EXPECT_TRUE(isNumeric("0"));
    EXPECT_TRUE(isNumeric("12345"));
    EXPECT_FALSE(isNumeric(""));
    EXPECT_FALSE(isNumeric("-1"));
    EXPECT_FALSE(isNumeric("1.5"));
    EXPECT_FALSE(isNumeric("12a"));
    EXPECT_FALSE(isNumeric(" 1"));

    EXPECT_TRUE(isAlphaSpace("Anna Maria"));
    EXPECT_TRUE(isAlphaSpace("x"));
    EXPECT_FALSE(isAlphaSpace(""));
    EXPECT_FALSE(isAlphaSpace("   "));
    EXPECT_FALSE(isAlphaSpace("R2D2"));
    EXPECT_FALSE(isAlphaSpace("Anna-Maria"));
    EXPECT_FALSE(isAlphaSpace("<script>"));

    for (const char* good : {"a@b.cd", "first.last@example.com", "o'brien+tag@mail.example.ie",
                             "x_y-z@sub-domain.example.org"}) {
        EXPECT_TRUE(isEmailID(good)) << good;
    }
    for (const char* bad : {"",           "plain",     "@example.com",
                            "a@",         "a@b",       "a@@b.com",
                            "a@b@c.com",  "a b@c.com", "a@b c.com",
                            ".a@b.com",   "a.@b.com",  "a..b@c.com",
                            "a@-b.com",   "a@b-.com",  "a@b..com",
                            "a@b.c",      "a@b.c0m",   "a\r\nBcc:x@y.com@z.com",
                            "a\"b@c.com", "a@b.com\n"}) {
        EXPECT_FALSE(isEmailID(bad)) << bad;
    }
}

TEST(CorvelTextUtil, ReadableFileSize) {
    EXPECT_EQ("0 B", readableFileSize(0, 2));
    EXPECT_EQ("1023 B", readableFileSize(1023, 2));
    EXPECT_EQ("1.00 KB", readableFileSize(1024, 2));
    EXPECT_EQ("1.50 KB", readableFileSize(1536, 2));
    EXPECT_EQ("2 MB", readableFileSize(2 * 1024 * 1024, 0));
    EXPECT_EQ("1.00 GB", readableFileSize(1073741824, 2));
    EXPECT_EQ("3.0 TB", readableFileSize(3LL << 40, 1));
    EXPECT_EQ("2048 TB", readableFileSize(2048LL << 40, 0));
    // Rounding up to 1024 of a unit is one of the next.
    EXPECT_EQ("1.00 MB", readableFileSize(1024 * 1024 - 1, 2));
    EXPECT_EQ("0 B", readableFileSize(-5, 2));
}

TEST(CorvelTextUtil, XmlEscape) {
    EXPECT_EQ("a&amp;b&lt;c&gt;d&quot;e&apos;f", xmlEscape("a&b<c>d\"e'f"));
    EXPECT_EQ("t&#x9;n&#xA;r&#xD;", xmlEscape("t\tn\nr\r"));
    EXPECT_EQ("ab", xmlEscape(std::string("a\0\x01\x1f"
                                          "b",
                                          5)));
    EXPECT_EQ("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80",
              xmlEscape("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"));
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ("a" + replacement + "b", xmlEscape("a\xFF"
                                                 "b"));
    EXPECT_EQ(replacement + replacement, xmlEscape("\xC0\xAF"));                    // overlong "/"
    EXPECT_EQ(replacement + replacement + replacement, xmlEscape("\xED\xA0\x80"));  // surrogate
    EXPECT_EQ("x" + replacement + replacement, xmlEscape("x\xE2\x82"));             // cut short
}

TEST(CorvelTextUtil, XmlEscapeOfEveryByteIsWellFormed) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::string doc = "<r a=\"" + xmlEscape(all) + "\">" + xmlEscape(all) + "</r>";
    Poco::XML::DOMParser parser;
    Poco::AutoPtr<Poco::XML::Document> parsed;
    ASSERT_NO_THROW(parsed = parser.parseString(doc));
    const std::string text = parsed->documentElement()->innerText();
    // Tab, LF and CR survive, the other controls are gone, the specials are back.
    EXPECT_EQ(0u, text.find("\t\n\r !\"#$%&'()"));
    EXPECT_NE(std::string::npos, text.find(";<=>?"));
    EXPECT_EQ(parsed->documentElement()->getAttribute("a"), text);
}

TEST(CorvelTimeUtil, LocalDisplayTimes) {
    const std::time_t t = 1709634030;  // 2024-03-05 10:20:30 UTC
    EXPECT_EQ(localDisplay(t), localNiceTimeStrFromUTCTime(Poco::Timestamp::fromEpochTime(t)));
    EXPECT_EQ(localDisplay(t), localTimeStrFromUTCStr("2024-03-05 10:20:30"));
    const std::time_t summer = 1719792000;  // 2024-07-01 00:00:00 UTC
    EXPECT_EQ(localDisplay(summer), localTimeStrFromUTCStr("2024-07-01 00:00:00"));
    for (const char* bad : {"", "garbage", "2024-03-05", "2024-03-05 10:20", "2024-13-01 00:00:00",
                            "2024-02-30 00:00:00", "2024-03-05 25:00:00", "2024-03-05 10:20:30x",
                            " 2024-03-05 10:20:30"}) {
        EXPECT_EQ("", localTimeStrFromUTCStr(bad)) << bad;
    }
}

TEST(CorvelNetUtil, PublicBaseURL) {
    ProfileScope profile;
    const int port = ProfileManager::getHTTPPort();
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(port), getPublicBaseURL());
    ProfileManager::setProperty("public.url", "https://files.example.org/base//");
    EXPECT_EQ("https://files.example.org/base", getPublicBaseURL());
    ProfileManager::setProperty("public.url", "");
}

TEST(CorvelNetUtil, PrivateIPAddressIsPrivateIPv4) {
    std::string ip = "unset";
    bool isIPv6 = true;
    if (!getPrivateIPAddress(ip, isIPv6)) {
        EXPECT_EQ("unset", ip);
        return;
    }
    EXPECT_FALSE(isIPv6);
    in_addr addr;
    ASSERT_EQ(1, ::inet_pton(AF_INET, ip.c_str(), &addr)) << ip;
    const std::uint32_t a = ntohl(addr.s_addr);
    const bool isPrivate = (a >> 24) == 10 || (a >> 20) == 0xAC1 || (a >> 16) == 0xC0A8;
    EXPECT_TRUE(isPrivate) << ip;
}
