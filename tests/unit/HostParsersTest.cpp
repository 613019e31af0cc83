// The host's small parsers, by example: the edges where a header or a path
// is taken, clamped, refused or ignored. Their fuzzers check that nothing
// breaks; these check that each answer is the one a client relies on.
#include <Poco/AutoPtr.h>
#include <Poco/Util/PropertyFileConfiguration.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "app/Settings.h"
#include "auth/ClientThrottle.h"
#include "auth/SessionStore.h"
#include "http/ByteRange.h"
#include "http/HeaderText.h"
#include "http/UrlPath.h"
#include "net/FrontLimits.h"
#include "webdav/WebDAVIfHeader.h"

using namespace Orvane::Host;

namespace {

std::string rangeOf(const std::string& header, std::uint64_t size) {
    const ByteRange r = ByteRange::parse(header, size);
    if (r.kind == ByteRange::NONE)
        return "whole";
    if (r.kind == ByteRange::UNSATISFIABLE)
        return "416";
    return std::to_string(r.first) + "-" + std::to_string(r.last);
}

std::pair<std::string, std::string> split(const std::string& target) {
    std::pair<std::string, std::string> out;
    UrlPath::split(target, out.first, out.second);
    return out;
}

// The header's answer when only the named tokens are held.
bool holdsWith(const std::string& header, const std::set<std::string>& held) {
    return WebDAVIfHeader(header).holds(
        [&](const std::string&, const WebDAVIfHeader::Condition& c) {
            return c.isToken && held.count(c.value) > 0;
        });
}

// The one line a start stops with, or "" when the sources resolve.
std::string settingsError(const std::string& config, const std::vector<FlagValue>& flags = {}) {
    try {
        Settings::resolve(config, flags);
        return "";
    } catch (const SettingsError& e) {
        return e.what();
    }
}

FlagValue flag(const char* name, const std::string& value) {
    return {SettingsTable::byFlag(name), value};
}

}  // namespace

TEST(HostParsers, SettingsWeighDefaultsTheFileTheProfileAndFlagsInThatOrder) {
    TestSupport::TempDir dir;
    const std::string profile = dir.mkdir("profile");
    const std::string config = dir.write(
        "orvane.conf", "# comment\nprofile = " + profile +
                           "\r\nport=9000\nbind : 0.0.0.0\nworkers = 3\nshare = /a\n"
                           "owner.name = Ann \\\nLee\npublic.url = \nlog.level = debug\n");
    dir.write("profile/host.properties", "port: 9001\nshare=/b\nworkers=\nfrom.a.plugin=1\n");
    const Settings s = Settings::resolve(config, {flag("--port", "9002"), flag("--share", "/c")});
    EXPECT_EQ(9002, s.number("port"));
    EXPECT_EQ("--port", s.origin("port"));
    EXPECT_EQ("0.0.0.0", s.text("bind"));
    EXPECT_EQ(config + ":4", s.origin("bind"));
    EXPECT_EQ(8, s.number("workers"));  // emptied again by the profile
    EXPECT_EQ("Ann Lee", s.text("owner.name"));
    EXPECT_EQ("", s.text("public.url"));
    EXPECT_EQ("debug", s.text("log.level"));
    EXPECT_EQ((std::vector<std::string>{"/a", "/b", "/c"}), s.list("share"));
    EXPECT_EQ(1024, s.number("min.free.mb"));
    EXPECT_EQ(Settings::DEFAULT, s.layer("min.free.mb"));
    ASSERT_EQ(1u, s.warnings().size());
    EXPECT_EQ(profile + "/host.properties:4: unknown key \"from.a.plugin\", ignored",
              s.warnings()[0].substr(0, s.warnings()[0].find(" (")));
    // A flag's profile is the one whose host.properties counts.
    EXPECT_EQ(9000, Settings::resolve(config, {flag("--profile", dir.path())}).number("port"));
    // The front's own defaults are the table's.
    const FrontLimits given =
        FrontLimits::fromSettings([](const std::string& key) { return Settings().number(key); });
    const FrontLimits built;
    EXPECT_EQ((std::vector<long long>{built.headerTimeoutSeconds, (long long)built.headerMaxBytes,
                                      built.bodyMinRate, built.bodyGraceSeconds,
                                      built.keepAliveIdleSeconds, built.connectionsPerAddress,
                                      built.connectionsMax, built.sendStallSeconds, built.threads}),
              (std::vector<long long>{
                  given.headerTimeoutSeconds, (long long)given.headerMaxBytes, given.bodyMinRate,
                  given.bodyGraceSeconds, given.keepAliveIdleSeconds, given.connectionsPerAddress,
                  given.connectionsMax, given.sendStallSeconds, given.threads}));
    // host.properties is read as Poco reads it for libcorvel.
    const std::string tricky = "a=1\n  b : x\\ty \\\n z\n! c=2\n#d=3\ne\nf=\\\r\ng= p\\=q \n";
    std::istringstream in(tricky);
    std::map<std::string, std::string> ours;
    for (const SettingsEntry& entry : SettingsFile::parse(in))
        ours[entry.key] = entry.value;
    std::istringstream again(tricky);
    Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> poco(
        new Poco::Util::PropertyFileConfiguration(again));
    Poco::Util::AbstractConfiguration::Keys keys;
    poco->keys(keys);
    EXPECT_EQ(ours.size(), keys.size());
    for (const auto& key : keys)
        EXPECT_EQ(poco->getRawString(key), ours[key]) << key;
}

TEST(HostParsers, SettingsThatCannotBeUsedNameTheFileTheLineAndTheKey) {
    TestSupport::TempDir dir;
    const std::string profile = dir.mkdir("profile");
    auto config = [&](const std::string& text) {
        return dir.write("orvane.conf", "profile = " + profile + "\n" + text);
    };
    const std::string file = dir.path() + "/orvane.conf";
    EXPECT_EQ(file + ":3: unknown key \"prot\" (orvane-host --help lists every key)",
              settingsError(config("\nprot = 80\n")));
    EXPECT_EQ(file + ":2: port: wants a whole number from 0 to 65535, not \"80a\"",
              settingsError(config("port = 80a\n")));
    EXPECT_EQ(file + ":2: \"port 80\" is not a line of key = value",
              settingsError(config("port 80\n")));
    for (const char* bad : {"tls.self.signed = maybe", "log.level = loud", "public.url = ftp://x",
                            "bind = a b", "proxy.trusted = 10.0.0.0/33", "smtp.from = nobody",
                            "history.max.days = -1", "owner.name = a\\tb"}) {
        const std::string error = settingsError(config(std::string(bad) + "\n"));
        const std::string key = std::string(bad).substr(0, std::string(bad).find(' '));
        EXPECT_EQ(0u, error.find(file + ":2: " + key + ": ")) << error;
    }
    // In the profile: bad values stop the start too; it cannot move the profile.
    config("");
    dir.write("profile/host.properties", "\nheader.timeout.seconds=soon\n");
    EXPECT_EQ(0u,
              settingsError(file).find(profile + "/host.properties:2: header.timeout.seconds:"));
    dir.write("profile/host.properties", "profile=/elsewhere\n");
    EXPECT_NE(std::string::npos, settingsError(file).find("host.properties:1: profile:"));
    dir.write("profile/host.properties", "");
    EXPECT_EQ("--workers: wants a whole number from 1 to 256, not \"0\"",
              settingsError(file, {flag("--workers", "0")}));
    EXPECT_NE(std::string::npos, settingsError(dir.path() + "/none.conf").find("cannot be read"));
    EXPECT_EQ("", settingsError(file, {flag("--tls-self-signed", "true")}));
}

TEST(HostParsers, ByteRangeTakesOneRangeAndIgnoresWhatItCannotRead) {
    EXPECT_EQ("0-0", rangeOf("bytes=0-0", 10));
    EXPECT_EQ("2-9", rangeOf("bytes=2-100", 10));  // the end is clamped
    EXPECT_EQ("5-9", rangeOf("bytes=5-", 10));
    EXPECT_EQ("7-9", rangeOf("bytes=-3", 10));
    EXPECT_EQ("0-9", rangeOf("bytes=-20", 10));  // a suffix longer than the file
    EXPECT_EQ("1-2", rangeOf(" BYTES= 1 - 2 ", 10));
    // Past the end, or nothing to send: 416.
    for (const char* header : {"bytes=10-", "bytes=-0", "bytes=9999999999999999999-"})
        EXPECT_EQ("416", rangeOf(header, 10)) << header;
    EXPECT_EQ("416", rangeOf("bytes=0-", 0));
    EXPECT_EQ("416", rangeOf("bytes=-1", 0));
    // Not a single byte range this host serves: the whole file.
    for (const char* header :
         {"", "bytes=5-2", "bytes=0-1,3-4", "items=0-1", "bytes=-", "bytes=+1-2", "bytes=1-2-3",
          "bytes=a-b", "bytes 0-1", "bytes=18446744073709551616-"})
        EXPECT_EQ("whole", rangeOf(header, 10)) << header;
}

TEST(HostParsers, UrlPathSplitsDecodesAndNormalizes) {
    EXPECT_EQ(std::make_pair(std::string("/a/b"), std::string("x=1")),
              split("http://h:8080/a/b?x=1#frag"));
    EXPECT_EQ(std::make_pair(std::string("/"), std::string()), split("https://h"));
    // A scheme inside the query is not an absolute target.
    EXPECT_EQ(std::make_pair(std::string("/a"), std::string("u=http://c/d")),
              split("/a?u=http://c/d"));
    EXPECT_EQ(std::make_pair(std::string("/a"), std::string()), split("/a#x?y"));

    EXPECT_EQ("A//+ \xC3\xA9", UrlPath::decode("%41%2f%2F+%20%c3%A9"));
    for (const std::string& raw : std::vector<std::string>{"%", "a%4", "%G1", "%4g", "%%41",
                                                           "a%00b", std::string("a\0b", 3)})
        EXPECT_THROW(UrlPath::decode(raw), BadPath) << raw;

    EXPECT_EQ("/a%20b%22%3C%3E%7F%00%C3%A9%41%3Fq%23f",
              UrlPath::normalize(std::string("/a b\"<>\x7F") + '\0' + "\xC3\xA9%41?q#f"));
    EXPECT_EQ("/a?q#f", UrlPath::normalize("/a?q#f", "?#"));
}

TEST(HostParsers, IfHeaderListsAreAlternativesOfConditionsThatAllHold) {
    const std::string both = "(<urn:a> <urn:b>)";
    EXPECT_FALSE(holdsWith(both, {"urn:a"}));
    EXPECT_TRUE(holdsWith(both, {"urn:a", "urn:b"}));
    const std::string either = "(Not <urn:a>) (<urn:b>)";
    EXPECT_TRUE(holdsWith(either, {}));
    EXPECT_FALSE(holdsWith(either, {"urn:a"}));
    EXPECT_TRUE(holdsWith(either, {"urn:a", "urn:b"}));

    // Negated tokens are named too; entity tags are not tokens.
    const WebDAVIfHeader tagged(
        "<http://h/x> (Not <urn:a> [\"e1\"]) (<urn:b>)\t<http://h/y> (<urn:c>)");
    EXPECT_EQ((std::vector<std::string>{"urn:a", "urn:b", "urn:c"}), tagged.tokens());
    std::vector<std::string> asked;
    tagged.holds([&](const std::string& resource, const WebDAVIfHeader::Condition& c) {
        asked.push_back(resource + " " + (c.negated ? "!" : "") + (c.isToken ? "" : "etag ") +
                        c.value);
        return false;
    });
    EXPECT_EQ((std::vector<std::string>{"http://h/x !urn:a", "http://h/x etag \"e1\"",
                                        "http://h/x urn:b", "http://h/y urn:c"}),
              asked);

    for (const char* bad : {"", "  ", "<http://h/x>", "()", "(<urn:a>", "(<urn:a", "([\"e\")",
                            "urn:a", "(Nat <urn:a>)", "(<urn:a>) junk", "(<urn:a>) <r"})
        EXPECT_THROW(WebDAVIfHeader{bad}, BadIfHeader) << bad;
}

TEST(HostParsers, HeaderTextKeepsControlsAndQuotesOutOfHeaders) {
    EXPECT_EQ("ab c\xC3\xA9", HeaderText::clean("a\r\nb\tc\x7F\x01\xC3\xA9"));
    EXPECT_EQ("attachment; filename=\"a b.txt\"; filename*=UTF-8''a%20b.txt",
              HeaderText::contentDisposition("attachment; filename=\"a b.txt\""));
    EXPECT_EQ("inline; filename=\"__.txt\"; filename*=UTF-8''%C3%A9.txt",
              HeaderText::contentDisposition("INLINE; filename=\"\xC3\xA9.txt\""));
    // Characters that would end the quoted name or be decoded by a browser.
    EXPECT_EQ("attachment; filename=\"a_b_c_41.txt\"; filename*=UTF-8''a%22b%5Cc%2541.txt",
              HeaderText::contentDisposition("form-data; filename=\"a\"b\\c%41.txt\""));
    EXPECT_EQ("attachment; filename=\"xSet-Cookie: a=b\"; filename*=UTF-8''xSet-Cookie%3A%20a%3Db",
              HeaderText::contentDisposition("attachment; filename=\"x\r\nSet-Cookie: a=b\""));
    EXPECT_EQ("attachment; filename=\"a.txt\"; filename*=UTF-8''a.txt",
              HeaderText::contentDisposition("attachment; filename=a.txt; size=3"));
    EXPECT_EQ("inline", HeaderText::contentDisposition("inline"));
    EXPECT_EQ("attachment", HeaderText::contentDisposition("attachment; filename=\"\r\n\""));
    EXPECT_EQ("Basic realm=\"My _Realm__\", charset=\"UTF-8\"",
              HeaderText::basicChallenge("My \"Realm\"\\\r\n"));
}

TEST(HostParsers, SessionsAreFoundOnlyByTheirKindAndUntilTheyEnd) {
    SessionStore store(std::chrono::hours(1), 2);
    const std::string ann = store.create(SessionStore::GUEST, "ann");
    EXPECT_EQ(32u, ann.size());
    EXPECT_EQ(std::string::npos, ann.find_first_not_of("0123456789abcdef"));
    SessionStore::Session found;
    ASSERT_TRUE(store.find(ann, SessionStore::GUEST, found));
    EXPECT_EQ("ann", found.user);
    EXPECT_FALSE(store.find(ann, SessionStore::OWNER, found));
    EXPECT_FALSE(store.find(ann.substr(1), SessionStore::GUEST, found));

    // Full: the oldest sign-in gives way.
    const std::string owner = store.create(SessionStore::OWNER, "ann");
    const std::string bob = store.create(SessionStore::GUEST, "bob");
    EXPECT_FALSE(store.find(ann, SessionStore::GUEST, found));
    EXPECT_TRUE(store.find(owner, SessionStore::OWNER, found));
    store.removeUser(SessionStore::GUEST, "ann");
    EXPECT_TRUE(store.find(owner, SessionStore::OWNER, found));
    store.removeUser(SessionStore::OWNER, "ann");
    EXPECT_FALSE(store.find(owner, SessionStore::OWNER, found));
    store.remove(bob);
    EXPECT_FALSE(store.find(bob, SessionStore::GUEST, found));

    SessionStore ended(std::chrono::seconds(-1));
    EXPECT_FALSE(ended.find(ended.create(SessionStore::GUEST, "ann"), SessionStore::GUEST, found));
}

TEST(HostParsers, ThrottleBlocksAnAddressAfterItsFailuresAndKeepsBlocksWhenFull) {
    ClientThrottle throttle(3, std::chrono::seconds(60), std::chrono::seconds(600), 2);
    throttle.recordFailure("10.0.0.1");
    throttle.recordFailure("10.0.0.1");
    EXPECT_EQ(0, throttle.blockedFor("10.0.0.1"));
    throttle.recordFailure("10.0.0.1");
    EXPECT_GT(throttle.blockedFor("10.0.0.1"), 590);
    EXPECT_LE(throttle.blockedFor("10.0.0.1"), 600);
    // A flood of other addresses does not lift the block.
    for (int i = 2; i < 50; ++i)
        throttle.recordFailure("10.0.0." + std::to_string(i));
    EXPECT_GT(throttle.blockedFor("10.0.0.1"), 0);

    // Failures older than the window are forgotten.
    ClientThrottle instant(2, std::chrono::seconds(0), std::chrono::seconds(600));
    for (int i = 0; i < 5; ++i)
        instant.recordFailure("10.0.0.1");
    EXPECT_EQ(0, instant.blockedFor("10.0.0.1"));
}
