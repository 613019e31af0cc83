// Share and history records and their XML, on real files and folders.
#include <Poco/DateTime.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/File.h>
#include <Poco/Timespan.h>
#include <gtest/gtest.h>

#include "StoreTestSupport.h"
#include "core/Dappline.h"
#include "orvane/ShortURLManager.h"
#include "orvane/Util.h"
#include "store/DapplineHistory.h"

using Orvane::Dappline::Dappline;
using Orvane::Dappline::DapplineHistory;

namespace {

std::string sortable(const Poco::Timespan& fromNow) {
    Poco::DateTime when;
    when += fromNow;
    return Poco::DateTimeFormatter::format(when, Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::string slashesEncoded(std::string path) {
    std::string out;
    for (char c : path)
        out += c == '/' ? std::string("%2F") : std::string(1, c);
    return out;
}

std::string resolved(const std::string& code) {
    std::string path;
    EXPECT_TRUE(Orvane::ShortURLManager().resolveShortURL(code, path)) << code;
    return path;
}

class StoreRecordsTest : public StoreTest::ProfileTest {
protected:
    void SetUp() override {
        ProfileTest::SetUp();
        m_folder = m_temp->mkdir("data/Photos");
        m_file = m_temp->write("data/report.final.pdf", "12345");
        m_base = Orvane::Util::getPublicBaseURL();
    }
    std::string m_folder, m_file, m_base;
};

TEST_F(StoreRecordsTest, FolderShareXMLInOrder) {
    Dappline share(3, "Photos", m_folder, "GALLERY", "2030-01-01 00:00:00", 2048, 1, 2, 1);
    const std::string url = share.getURL(false);
    ASSERT_FALSE(url.empty());
    EXPECT_EQ(
        "<share><shareid>3</shareid><sharename>Photos</sharename><isvalid>1</isvalid>"
        "<isdir>1</isdir><sharelocation>" +
            m_folder +
            "</sharelocation><viewmode>GALLERY</viewmode><validityperiod>2030-01-01 "
            "00:00:00</validityperiod><shareurl>" +
            url +
            "</shareurl><oldshareurl>../../app/dapplinepro/share/Photos/</oldshareurl>"
            "<allowpublicaccess>1</allowpublicaccess><sharesizelimit>2048</sharesizelimit>"
            "<viewsize>1</viewsize><thumbsize>2</thumbsize><allowedit>1</allowedit>"
            "<allowdelete>1</allowdelete></share>",
        share.toXML(true));
    EXPECT_NE(std::string::npos,
              share.toXML(false).find("<oldshareurl>" + m_base +
                                      "/app/dapplinepro/share/Photos/</oldshareurl>"));
    Dappline file(4, "Report", m_file, "", "", 0, 0, 1, 0);
    EXPECT_NE(std::string::npos, file.toXML(false).find("<isvalid>1</isvalid><isdir>0</isdir>"));
}

TEST_F(StoreRecordsTest, DeletedLocation) {
    Dappline share(5, "Gone", m_temp->path() + "/gone", "", "", 0, 0, 1, 1);
    const std::string xml = share.toXML(false);
    EXPECT_NE(std::string::npos, xml.find("<isvalid>0</isvalid><sharelocation>"));
    EXPECT_EQ(std::string::npos, xml.find("<isdir>"));
    EXPECT_NE(std::string::npos, xml.find("<shareurl></shareurl>"));
    EXPECT_EQ("", share.getURL(false));
    EXPECT_EQ("", share.getURL(true));
    EXPECT_EQ("", share.toDirListXML());
    EXPECT_EQ("", share.toFileListXML());
}

TEST_F(StoreRecordsTest, NamesAndLocationsAreEscaped) {
    const std::string folder = m_temp->mkdir("data/Tom & Jerry's <\"best\">");
    Dappline share(6, "A&B <x> \"q\" 'a' &#x41;", folder, "", "", 0, 0, 1, 0);
    const std::string xml = share.toXML(false);
    EXPECT_NE(std::string::npos,
              xml.find("<sharename>A&amp;B &lt;x&gt; &quot;q&quot; &apos;a&apos; &amp;#x41;"
                       "</sharename>"))
        << xml;
    const std::string location =
        m_temp->path() + "/data/Tom &amp; Jerry&apos;s &lt;&quot;best&quot;&gt;";
    EXPECT_NE(std::string::npos, xml.find("<sharelocation>" + location + "</sharelocation>"));
    // The direct address is built from the escaped name, then percent-encoded.
    EXPECT_NE(std::string::npos,
              xml.find("<oldshareurl>" + m_base +
                       "/app/dapplinepro/share/A&amp;B%20&lt;x&gt;%20&quot;q&quot;%20&apos;a&apos;"
                       "%20&amp;#x41;/</oldshareurl>"))
        << xml;
    EXPECT_EQ(
        "<directory><name>A&amp;B &lt;x&gt; &quot;q&quot; &apos;a&apos; &amp;#x41;</name>"
        "<path>" +
            location + "</path><dirpath>" + location +
            "</dirpath><isroot>1</isroot><writable>1</writable></directory>",
        share.toDirListXML());
}

TEST_F(StoreRecordsTest, PublicFolderLinksToThePublicBrowser) {
    Dappline gallery(1, "Photos", m_folder, "GALLERY", "", 0, 0, 1, 1);
    const std::string code = gallery.getURL(true);
    ASSERT_EQ(8u, code.size());
    EXPECT_EQ("/ui/core/index.html?mode=public#expl-grid." + slashesEncoded(m_folder),
              resolved(code));
    EXPECT_EQ(m_base + "/url" + code, gallery.getURL(false));

    Dappline list(1, "Photos", m_folder, "gallery", "", 0, 0, 1, 1);
    EXPECT_EQ("/ui/core/index.html?mode=public#expl-tabl." + slashesEncoded(m_folder),
              resolved(list.getURL(true)))
        << "only the exact view mode GALLERY gives the grid";
}

TEST_F(StoreRecordsTest, PrivateFolderLinksToGuestSignIn) {
    Dappline share(1, "Photos", m_folder, "GALLERY", "", 0, 0, 1, 0);
    EXPECT_EQ(m_base + "#guest", share.getURL(false));
    EXPECT_EQ(m_base + "#guest", share.getURL(true));
}

TEST_F(StoreRecordsTest, FileShareLinksToTheSharePage) {
    Dappline share(2, "Report", m_file, "", "", 0, 0, 1, 0);
    const std::string code = share.getURL(true);
    EXPECT_EQ("/app/dapplinepro/share/Report/", resolved(code));
    EXPECT_EQ(code, share.getURL(true)) << "one code per path";
}

TEST_F(StoreRecordsTest, FileListEntries) {
    const std::string readme = m_temp->write("data/README", "hello");
    Dappline file(2, "Docs", readme, "", "", 0, 0, 1, 0);
    const std::string xml = file.toFileListXML();
    EXPECT_EQ(0u, xml.find("<entry><path>" + readme + "</path><fullfilename>" + readme +
                           "</fullfilename><dirpath>" + readme +
                           "</dirpath><type>file</type><name>README</name><ext>n/a</ext><size>" +
                           Orvane::Util::readableFileSize(5, 2) +
                           "</size><fullsize>5</fullsize><modified>"))
        << xml;
    EXPECT_NE(std::string::npos,
              xml.find("</modified><isroot>1</isroot><canrename>0</canrename><isshareable>0"
                       "</isshareable><writable>1</writable></entry>"));

    Dappline pdf(3, "Report", m_file, "", "", 0, 0, 1, 0);
    EXPECT_NE(std::string::npos,
              pdf.toFileListXML().find("<name>report.final.pdf</name><ext>pdf</ext>"));

    Dappline folder(4, "My <Photos>", m_folder, "", "", 0, 0, 1, 0);
    folder.setAllowEdit(false);
    const std::string dir = folder.toFileListXML();
    EXPECT_NE(std::string::npos,
              dir.find("<type>dir</type><ext>n/a</ext><name>My &lt;Photos&gt;</name><modified>"));
    EXPECT_EQ(std::string::npos, dir.find("<writable>"));
    EXPECT_EQ(std::string::npos, folder.toDirListXML().find("<writable>"));
    EXPECT_NE(std::string::npos,
              folder.toXML(false).find("<allowedit>0</allowedit><allowdelete>1</allowdelete>"));
}

TEST_F(StoreRecordsTest, Expiry) {
    Dappline share;
    EXPECT_FALSE(share.isExpired()) << "no validity text never expires";
    share.validityPeriod = sortable(Poco::Timespan(-60, 0));
    EXPECT_TRUE(share.isExpired());
    share.validityPeriod = sortable(Poco::Timespan(1, 0, 0, 0, 0));
    EXPECT_FALSE(share.isExpired());
    share.validityPeriod = "not a date";
    EXPECT_TRUE(share.isExpired()) << "an unreadable expiry closes the share";
}

TEST_F(StoreRecordsTest, HistoryXML) {
    DapplineHistory entry(9, "/data/a&b <c>.jpg", 2048, "2014-03-31 18:00:00", 4, "Tom & <Jerry>",
                          true);
    EXPECT_EQ(
        "<history><id>0</id><shareid>9</shareid><sharelocation>/data/a&amp;b "
        "&lt;c&gt;.jpg</sharelocation><filesize>" +
            Orvane::Util::readableFileSize(2048, 0) + "</filesize><date>" +
            Orvane::Util::localTimeStrFromUTCStr("2014-03-31 18:00:00") +
            "</date><userid>4</userid><username>Tom &amp; &lt;Jerry&gt;</username></history>",
        entry.toXML());
}

}  // namespace
