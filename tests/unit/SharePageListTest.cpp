// The file list page as a visitor gets it through the share page handler:
// order, rows, icons, shortened names, tabs, write-only pieces, and names
// and texts that try to break out of the page.
#include <Poco/File.h>
#include <Poco/URI.h>

#include <cstdlib>
#include <ctime>
#include <tuple>

#include "SharePageFixture.h"
#include "orvane/Customization.h"
#include "orvane/ProfileManager.h"
#include "orvane/Util.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

const std::string ICON_START =
    "<td><img style=\"vertical-align: middle;margin-left:3px;\" border=\"0\" src=\"";

class SharePageList : public ShareFixture {
protected:
    void SetUp() override {
        Orvane::CustomizationManager().clear();
        ShareFixture::SetUp();
    }
    void TearDown() override {
        ShareFixture::TearDown();
        Orvane::CustomizationManager().clear();
    }

    std::string page(const std::string& address, const std::string& query = "", int role = 0) {
        Reply r = get(address, query, role);
        EXPECT_EQ(200, r.status) << address;
        EXPECT_EQ("text/html; charset=utf-8", r.contentType);
        return r.body;
    }

    // The row the page must hold for a file, from the page's fixed fragments.
    std::string fileRow(const std::string& rowStart, const std::string& path,
                        const std::string& href, const std::string& title, const std::string& shown,
                        const std::string& icon) {
        Poco::File file(path);
        return fileRowShowing(
            rowStart, href, title, shown, icon,
            Orvane::Util::readableFileSize(static_cast<std::int64_t>(file.getSize()), 0),
            Orvane::Util::localNiceTimeStrFromUTCTime(file.getLastModified()));
    }

    std::string fileRowShowing(const std::string& rowStart, const std::string& href,
                               const std::string& title, const std::string& shown,
                               const std::string& icon, const std::string& size,
                               const std::string& time) {
        return rowStart + ICON_START + "/app/dapplinepro" + icon + "\"></img>" +
               "</td><td class=\"tbl_filename\"><a href=\"" + href + "\" title=\"" + title +
               "\" >" + shown + "</a></td><td class=\"tbl_right\" >" + size +
               "</td><td class=\"tbl_right\">" + time + "</td>" +
               "<td class=\"tbl_right\"><a href=\"" + href +
               "?action=download \"><img title=\"Download File\" style=\"vertical-align: "
               "middle;margin-left:3px;\" border=\"0\" "
               "src=\"/app/dapplinepro/dl_button.gif\"></img></a></td></tr>";
    }

    std::string folderRow(const std::string& rowStart, const std::string& href,
                          const std::string& title, const std::string& shown) {
        return rowStart + "<td class=\"folder\">&nbsp;</td><td class=\"tbl_filename\"><a href=\"" +
               href + "/?vm=list\" title=\"" + title + "\" >" + shown +
               "</a></td>\r\n<td>&nbsp;</td>\r\n<td>&nbsp;</td>\r\n<td>&nbsp;</td>\r\n</"
               "tr>\r\n\r\n";
    }
};

TEST_F(SharePageList, FoldersComeFirstThenFilesInByteOrder) {
    m_temp->write("pub/b.txt", "bb");
    m_temp->write("pub/A.txt", "a");
    m_temp->mkdir("pub/Z");
    m_temp->mkdir("pub/a");
    addShare("pub", "pub");
    const std::string body = page("pub/");
    const std::string root = "<tr class=\"tbl_first_row\">";
    const std::size_t z = body.find(folderRow(root, "Z", "Z", "Z"));
    const std::size_t a = body.find(folderRow(root, "a", "a", "a"));
    const std::size_t upperA = body.find(fileRow(root, m_temp->path() + "/pub/A.txt", "A.txt",
                                                 "A.txt", "A.txt", "/fileicons/txt.png"));
    const std::size_t b = body.find(fileRow(root, m_temp->path() + "/pub/b.txt", "b.txt", "b.txt",
                                            "b.txt", "/fileicons/txt.png"));
    ASSERT_NE(std::string::npos, z);
    ASSERT_NE(std::string::npos, a);
    ASSERT_NE(std::string::npos, upperA);
    ASSERT_NE(std::string::npos, b);
    EXPECT_LT(z, a);
    EXPECT_LT(a, upperA);
    EXPECT_LT(upperA, b);
    EXPECT_FALSE(contains(body, "Go up one Level"));
    EXPECT_FALSE(contains(body, "This folder does not contain any files"));
    EXPECT_TRUE(contains(body, "<div id=\"location\">pub/</div>"));
}

TEST_F(SharePageList, FirstRowClassesAndTheGoUpRowBelowTheRoot) {
    m_temp->write("pub/sub/f.txt", "f");
    m_temp->mkdir("pub/sub/inner");
    addShare("pub", "pub");
    const std::string body = page("pub/sub/");
    const std::size_t up = body.find(
        "<tr class=\"tbl_first_row\">" + ICON_START +
        "/app/dapplinepro/folderup.png\"></img></td><td class=\"tbl_filename\"><a "
        "href=\"../?vm=list\">Go up one Level</a></td><td class=\"tbl_right\">&nbsp;</td><td "
        "class=\"tbl_right\">&nbsp;</td><td class=\"tbl_right\">&nbsp;</td></tr>");
    ASSERT_NE(std::string::npos, up);
    const std::size_t folder = body.find(folderRow("<tr>", "inner", "inner", "inner"));
    const std::size_t file = body.find(fileRow("<tr>", m_temp->path() + "/pub/sub/f.txt", "f.txt",
                                               "f.txt", "f.txt", "/fileicons/txt.png"));
    EXPECT_LT(up, folder);
    EXPECT_LT(folder, file);
    EXPECT_NE(std::string::npos, file);
    EXPECT_EQ(1u, countOf(body.substr(body.find("<table")), "tbl_first_row"));
    EXPECT_TRUE(contains(body, "<div id=\"location\">pub/sub/</div>"));
}

TEST_F(SharePageList, EmptyFolderHasItsOwnRow) {
    addShare("pub", "pub");
    m_temp->mkdir("pub/empty");
    const std::string row =
        "<tr><td colspan=\"4\">This folder does not contain any files</td></tr>";
    EXPECT_TRUE(contains(page("pub/empty/"), row));
    EXPECT_FALSE(contains(page("pub/"), row));
}

TEST_F(SharePageList, HiddenEntriesAreLeftOut) {
    m_temp->write("pub/.secret", "s");
    m_temp->mkdir("pub/.hidden");
    m_temp->write("pub/seen.txt", "v");
    addShare("pub", "pub");
    const std::string body = page("pub/");
    EXPECT_FALSE(contains(body, "secret"));
    EXPECT_FALSE(contains(body, ".hidden"));
    EXPECT_TRUE(contains(body, "title=\"seen.txt\""));
}

TEST_F(SharePageList, IconsFollowTheExactExtension) {
    for (const std::string& name :
         std::vector<std::string>{"report.pdf", "Report.PDF", "README", "trail.", "song.mp3",
                                  "SONG.MP3", "archive.tar.gz"})
        m_temp->write("pub/" + name, "x");
    addShare("pub", "pub");
    const std::string body = page("pub/");
    auto iconOf = [&](const std::string& name) {
        const std::size_t title = body.find("title=\"" + name + "\"");
        const std::size_t src = body.rfind("src=\"", title);
        return body.substr(src + 5, body.find('"', src + 5) - src - 5);
    };
    EXPECT_EQ("/app/dapplinepro/fileicons/pdf.png", iconOf("report.pdf"));
    EXPECT_EQ("/app/dapplinepro/file.png", iconOf("Report.PDF"));
    EXPECT_EQ("/app/dapplinepro/file.png", iconOf("README"));
    EXPECT_EQ("/app/dapplinepro/file.png", iconOf("trail."));
    EXPECT_EQ("/app/dapplinepro/fileicons/mp3.png", iconOf("song.mp3"));
    EXPECT_EQ("/app/dapplinepro/file.png", iconOf("SONG.MP3"));
    EXPECT_EQ("/app/dapplinepro/fileicons/gz.png", iconOf("archive.tar.gz"));
}

TEST_F(SharePageList, LongNamesAreShortenedForDisplayOnly) {
    const std::string name50 = "Short" + std::string(41, 'n') + ".txt";
    const std::string name51 = "Start" + std::string(6, 'm') + std::string(36, 'e') + ".txt";
    std::string wide;  // 51 two-byte characters
    for (int i = 0; i < 51; ++i)
        wide += "\xC3\xA9";
    ASSERT_EQ(50u, name50.size());
    ASSERT_EQ(51u, name51.size());
    m_temp->write("pub/" + name50, "x");
    m_temp->write("pub/" + name51, "x");
    m_temp->mkdir("pub/" + wide);
    addShare("pub", "pub");
    const std::string body = page("pub/");
    EXPECT_TRUE(contains(body, "title=\"" + name50 + "\" >" + name50 + "</a>"));
    const std::string shown51 = "Start..." + std::string(36, 'e') + ".txt";
    EXPECT_EQ(48u, shown51.size());
    EXPECT_TRUE(
        contains(body, "<a href=\"" + name51 + "\" title=\"" + name51 + "\" >" + shown51 + "</a>"));
    std::string wideShown = wide.substr(0, 10) + "..." + wide.substr(wide.size() - 80);
    EXPECT_TRUE(contains(body, "title=\"" + wide + "\" >" + wideShown + "</a>"));
}

TEST_F(SharePageList, MusicTabOnlyForMp3OrMP3) {
    const std::string tabsNoMusic =
        "<div id=\"tab_navi\" style='width:226px'><a id=\"files_active\" "
        "href='/app/dapplinepro/share/pub/?vm=list&am=share'>Files</a><a id=\"gallery\" "
        "href='/app/dapplinepro/share/pub/?vm=gallery&am=share'>Gallery</a></div>";
    const std::string tabsMusic =
        "<div id=\"tab_navi\"><a id=\"files_active\" "
        "href='/app/dapplinepro/share/pub/?vm=list&am=share'>Files</a><a id=\"gallery\" "
        "href='/app/dapplinepro/share/pub/?vm=gallery&am=share'>Gallery</a><a "
        "href='/app/dapplinepro/share/pub/?vm=music&am=share' id='music'>Music</a></div>";
    addShare("pub", "pub");
    const std::string mixed = m_temp->write("pub/Song.Mp3", "x");
    std::string body = page("pub/");
    EXPECT_TRUE(contains(body, tabsNoMusic));
    EXPECT_FALSE(contains(body, "##TABS##"));

    const std::string upper = m_temp->write("pub/SONG.MP3", "x");
    EXPECT_TRUE(contains(page("pub/"), tabsMusic));
    Poco::File(upper).remove();

    m_temp->write("pub/song.mp3", "x");
    EXPECT_TRUE(contains(page("pub/"), tabsMusic));
    // A folder named like an mp3 is not music.
    m_temp->mkdir("other/folder.mp3");
    addShare("other", "other");
    EXPECT_TRUE(contains(page("other/"), "<div id=\"tab_navi\" style='width:226px'>"));
    // The am value is carried into the tab links.
    EXPECT_TRUE(contains(page("pub/", "am=explorer"),
                         "href='/app/dapplinepro/share/pub/?vm=gallery&am=explorer'"));
}

TEST_F(SharePageList, UploadPiecesOnlyWithWriteAccess) {
    const Orvane::Dappline::Dappline share = addShare("priv", "priv", 0);
    addGuest("writer", "pw1", share.shareId, 1);
    addGuest("reader", "pw2", share.shareId, 0);
    const std::string forceAuth = "<img src='/app/dapplinepro/force_auth.gif'/></img>";
    const std::string uploadItem = "<div id=\"swfcontent_link\"";

    MessagePtr asWriter = shareRequest("priv/");
    setRequestField(asWriter, HTTP::S_HTTP_REQ_CREDENTIALS_INFO, "writer:pw1");
    const std::string writerPage = call(asWriter).body;
    EXPECT_TRUE(contains(writerPage, uploadItem));
    EXPECT_TRUE(contains(writerPage, forceAuth + "</body></html>"));
    EXPECT_TRUE(contains(
        writerPage, "&sharename=priv&" + Orvane::API::ProfileManager::generateURLAuth("writer")));

    MessagePtr asReader = shareRequest("priv/");
    setRequestField(asReader, HTTP::S_HTTP_REQ_CREDENTIALS_INFO, "reader:pw2");
    const std::string readerPage = call(asReader).body;
    EXPECT_TRUE(contains(readerPage, "id=\"files_active\""));
    EXPECT_FALSE(contains(readerPage, uploadItem));
    EXPECT_FALSE(contains(readerPage, "force_auth.gif"));

    addShare("pub", "pub");
    const std::string publicPage = page("pub/");
    EXPECT_FALSE(contains(publicPage, uploadItem));
    EXPECT_FALSE(contains(publicPage, "force_auth.gif"));
}

TEST_F(SharePageList, HeaderLogoAndFooter) {
    addShare("pub", "pub");
    std::string body = page("pub/");
    EXPECT_EQ(0u, body.find("<!doctype html><html><head>"));
    EXPECT_TRUE(contains(body, "<title>Orvane Dappline</title>\r\n\r\n"));
    EXPECT_TRUE(
        contains(body, "<style type=\"text/css\">\r\n\r\n" + m_plugin->css() + "</style>\r\n\r\n"));
    EXPECT_TRUE(contains(body,
                         "<a class=\"orvane_dappline_logo\" "
                         "href=\"/app/dapplinepro/share/pub/\" title=\"Orvane "
                         "Dappline\"><h1></h1></a>"));
    EXPECT_TRUE(contains(body,
                         "Download Zip</a></div></li></ul></div></div><br/><br/>"
                         "<div id=\"tab_navi\""));
    const std::string footer = "<div class=\"footer\">\r\n<b>" +
                               Orvane::API::ProfileManager::getPeerID().name +
                               " used Orvane to share this folder (and <a href=\"" +
                               Orvane::Dappline::getProductWebsite() +
                               "\" style=\"color: gray; text-decoration: underline;\">you can "
                               "too</a>). </b> &nbsp;<br/>";
    EXPECT_TRUE(contains(body, footer));
    EXPECT_TRUE(contains(body, ".</div>\r\n\r\n</div\r\n\r\n></body></html>"));

    m_plugin->database()->setConfigValue("CUSTOMHEADER", "ENABLED", "<b>Ann & Co</b>");
    body = page("pub/");
    EXPECT_TRUE(contains(body,
                         "<a class=\"norrit_title_text\" href=\"/app/dapplinepro/share/pub/\" "
                         "title=\"Orvane Dappline\"><h1>&lt;b&gt;Ann &amp; "
                         "Co&lt;/b&gt;</h1></a><a class='orvane_powered_logo' "
                         "title='Orvane' href='"));
    Orvane::CustomizationManager().setCustomizationValue("DapplineLogo", "logo.png");
    EXPECT_TRUE(contains(page("pub/"),
                         "<a class=\"orvane_dappline_logo_custom\" "
                         "href=\"/app/dapplinepro/share/pub/\" title=\"Orvane "
                         "Dappline\"><h1></h1></a>"));
}

TEST_F(SharePageList, FileNamedLikeTheTabMarkerStaysAName) {
    m_temp->write("pub/##TABS##.txt", "x");
    addShare("pub", "pub");
    const std::string body = page("pub/");
    EXPECT_TRUE(contains(body, "title=\"##TABS##.txt\" >##TABS##.txt</a>"));
    EXPECT_EQ(1u, countOf(body, "<div id=\"tab_navi\""));
}

// Every byte of one page, for a folder whose names, sizes and times are
// fixed, in a zone with summer time (times on both sides of each change).
// Only the style sheet, the upload address's folder and signature and the
// footer's clock are filled in.
TEST_F(SharePageList, PageBytesForAFixedFolder) {
    struct Zone {
        Zone() : had(::getenv("TZ") != nullptr), old(had ? ::getenv("TZ") : "") {
            ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
            ::tzset();
        }
        ~Zone() {
            if (had)
                ::setenv("TZ", old.c_str(), 1);
            else
                ::unsetenv("TZ");
            ::tzset();
        }
        const bool had;
        const std::string old;
    } zone;
    const std::string long51 = "Start" + std::string(6, 'm') + std::string(36, 'e') + ".txt";
    const std::vector<std::tuple<std::string, std::int64_t, std::time_t>> files = {
        {"b.txt", 0, 1262304000},        // 2010-01-01 00:00:00 UTC
        {"A.txt", 1536, 1269737999},     // the last second before summer time
        {"song.mp3", 2560, 1269738000},  // its first second
        {"Report.PDF", 1572864, 1278590400},
        {"README", 1023, -30000000},                 // before 1970
        {"a\"b'c&d <e>.txt", 1024, 1288486799},      // the last second of summer time
        {"100% #1?.txt", 5368709120LL, 1288486800},  // the first after it
        {"\xC3\xA9t\xC3\xA9.jpg", 7, 1288494000},
        {long51, 1, 4102444800},
    };
    for (const auto& f : files) {
        Poco::File file(m_temp->write("pub/in/" + std::get<0>(f), ""));
        file.setSize(static_cast<Poco::File::FileSize>(std::get<1>(f)));
        file.setLastModified(Poco::Timestamp::fromEpochTime(std::get<2>(f)));
    }
    m_temp->mkdir("pub/in/Z");
    m_temp->mkdir("pub/in/sub dir");
    m_temp->write("pub/in/.hidden", "h");
    addShare("pub", "pub");
    std::string body = page("pub/in/");
    const std::string clockStart = "&nbsp;<br/>";
    const std::size_t clock = body.find(clockStart);
    ASSERT_NE(std::string::npos, clock);
    const std::size_t clockEnd = body.find(".</div>", clock);
    ASSERT_NE(std::string::npos, clockEnd);
    body.replace(clock + clockStart.size(), clockEnd - clock - clockStart.size(), "CLOCK");
    std::string folder;
    Poco::URI::encode(m_temp->path() + "/pub/in", Orvane::Defs::HTTP::URL_SPECIAL_CHARS, folder);
    const std::string tabBase = "'/app/dapplinepro/share/pub/in/?vm=";
    const std::string expected =
        "<!doctype html><html><head><meta http-equiv=\"X-UA-Compatible\" content=\"IE=8\" />\r\n"
        "<meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\" />\r\n\r\n"
        "<title>Orvane Dappline</title>\r\n\r\n<style type=\"text/css\">\r\n\r\n" +
        m_plugin->css() +
        "</style>\r\n\r\n"
        "<script type=\"text/javascript\" src=\"/app/dapplinepro/swfupload/swfupload.js\"></script>"
        "<script type=\"text/javascript\" src=\"/app/dapplinepro/js/swfupload.queue.js\"></script>"
        "<script type=\"text/javascript\" src=\"/app/dapplinepro/js/fileprogress.js\"></script>"
        "<script type=\"text/javascript\" src=\"/app/dapplinepro/js/handlers.js\"></script>"
        "<script language='javascript'><!--\n"
        "function hideSpinner() { document.getElementById('spinner').style.display = 'none'; }\n"
        "function showSpinner() { document.getElementById('spinner').style.display = ''; }\n"
        "var swfu;window.onload = function() { var settings = { flash_url : "
        "\"/app/dapplinepro/swfupload/swfupload.swf\", upload_url: "
        "\"/app/dapplinepro/upload?appname=dapplinepro&expandzip=0&directory=" +
        folder + "&dirname=pub/in/&sharename=pub&" +
        Orvane::API::ProfileManager::generateURLAuth("") +
        "\", custom_settings : { progressTarget : \"fsUploadProgress\", cancelButtonId : "
        "\"btnCancel\" }, debug: false, button_image_url: "
        "\"/app/dapplinepro/images/TestImageNoText_65x29.png\", button_width: \"60\", "
        "button_height: \"29\", button_placeholder_id: \"spanButtonPlaceHolder\", button_text: "
        "'<span class=\"theFont\">Upload</span>', button_text_style: \".theFont { font-size: 14; "
        "}\", button_text_left_padding: 7, button_text_top_padding: 3, file_queued_handler : "
        "fileQueued, file_queue_error_handler : fileQueueError, file_dialog_complete_handler : "
        "fileDialogComplete, upload_start_handler : uploadStart, upload_progress_handler : "
        "uploadProgress, upload_error_handler : uploadError, upload_success_handler : "
        "uploadSuccess, upload_complete_handler : uploadComplete, queue_complete_handler : "
        "queueComplete }; swfu = new SWFUpload(settings); };\n"
        "function toggleLayer(whichLayer) { var elem = document.getElementById(whichLayer); if "
        "(!elem) return; var vis = elem.style; var shown = vis.display ? vis.display != 'none' : "
        "elem.offsetWidth > 0 || elem.offsetHeight > 0; vis.display = shown ? 'none' : 'block'; "
        "}\n//-->\n</script></head>\r\n\r\n<body>\r\n\r\n"
        "<div id='spinner' style='position: absolute; top: 190px; left:320px;z-index:20;'><img "
        "src='/app/dapplinepro/small_loader.gif'/></img></div><script type='text/javascript'> "
        "hideSpinner();</script><div id=\"content_wrapper\"><div id=\"content\"><div "
        "id=\"header\"><a class=\"orvane_dappline_logo\" href=\"/app/dapplinepro/share/pub/\" "
        "title=\"Orvane Dappline\"><h1></h1></a><div id=\"header_text\"><ul><li><div "
        "class='homeicon'><a href='/ui/guest/index.html' title='Home' "
        "style='padding-top:5px'>Home</a></div></li><li><div class='downloadzip'><a "
        "href='javascript:void(0)' "
        "onClick=\"window.open('/app/dapplinepro/status/status.html?zipit','statusWindow','width="
        "400,height=200,toolbar=no,location=no,directories=no,status=no,menubar=no,scrollbars=no,"
        "copyhistory=yes,resizable=no');\" style='padding-top:5px'>Download "
        "Zip</a></div></li></ul></div></div><br/><br/><div id=\"tab_navi\"><a id=\"files_active\" "
        "href=" +
        tabBase + "list&am=share'>Files</a><a id=\"gallery\" href=" + tabBase +
        "gallery&am=share'>Gallery</a><a href=" + tabBase +
        "music&am=share' id='music'>Music</a></div><div id=\"dappline_box\"><div "
        "id=\"dpb_header\"><div id=\"location\">pub/in/</div></div><div "
        "id=\"dpb_content_wrapper\"><div id=\"dpb_content\"><div><table cellpadding=\"0\" "
        "cellspacing=\"0\"><tr><th colspan=\"2\">Name</th><th class=\"tbl_right "
        "tbl_size\">Size</th><th class=\"tbl_right tbl_modified\">Modified</th><th "
        "class=\"tbl_right tbl_download\"></th></tr>"
        "<tr class=\"tbl_first_row\">" +
        ICON_START +
        "/app/dapplinepro/folderup.png\"></img></td><td class=\"tbl_filename\"><a "
        "href=\"../?vm=list\">Go up one Level</a></td><td class=\"tbl_right\">&nbsp;</td><td "
        "class=\"tbl_right\">&nbsp;</td><td class=\"tbl_right\">&nbsp;</td></tr>" +
        folderRow("<tr>", "Z", "Z", "Z") + folderRow("<tr>", "sub%20dir", "sub dir", "sub dir") +
        fileRowShowing("<tr>", "100%25%20%231%3F.txt", "100% #1?.txt", "100% #1?.txt",
                       "/fileicons/txt.png", "5 GB", "2010-10-31 02:00") +
        fileRowShowing("<tr>", "A.txt", "A.txt", "A.txt", "/fileicons/txt.png", "2 KB",
                       "2010-03-28 01:59") +
        fileRowShowing("<tr>", "README", "README", "README", "/file.png", "1023 B",
                       "1969-01-18 19:40") +
        fileRowShowing("<tr>", "Report.PDF", "Report.PDF", "Report.PDF", "/file.png", "2 MB",
                       "2010-07-08 14:00") +
        fileRowShowing("<tr>", long51, long51, "Start..." + std::string(36, 'e') + ".txt",
                       "/fileicons/txt.png", "1 B", "2100-01-01 01:00") +
        fileRowShowing("<tr>", "a%22b%27c%26d%20%3Ce%3E.txt", "a&quot;b&#39;c&amp;d &lt;e&gt;.txt",
                       "a&quot;b&#39;c&amp;d &lt;e&gt;.txt", "/fileicons/txt.png", "1 KB",
                       "2010-10-31 02:59") +
        fileRowShowing("<tr>", "b.txt", "b.txt", "b.txt", "/fileicons/txt.png", "0 B",
                       "2010-01-01 01:00") +
        fileRowShowing("<tr>", "song.mp3", "song.mp3", "song.mp3", "/fileicons/mp3.png", "2 KB",
                       "2010-03-28 03:00") +
        fileRowShowing("<tr>", "%C3%A9t%C3%A9.jpg", "\xC3\xA9t\xC3\xA9.jpg",
                       "\xC3\xA9t\xC3\xA9.jpg", "/fileicons/jpg.png", "7 B", "2010-10-31 04:00") +
        "</table></div></div></div><div id=\"dpb_footer\">&nbsp;</div></div></div></div>"
        "<div class=\"footer\">\r\n<b>" +
        Orvane::API::ProfileManager::getPeerID().name +
        " used Orvane to share this folder (and <a href=\"" +
        Orvane::Dappline::getProductWebsite() +
        "\" style=\"color: gray; text-decoration: underline;\">you can too</a>). </b> "
        "&nbsp;<br/>CLOCK.</div>\r\n\r\n</div\r\n\r\n></body></html>";
    EXPECT_EQ(expected, body);
}

// Names a visitor with write access could give to uploads, and a share
// named by the owner with the same characters.
class SharePageInjection : public SharePageList {
protected:
    const std::string shareName = "s<i>&'\"";
    const std::vector<std::string> fileNames = {"<img src=x onerror=alert(1)>.jpg", "a\"b'c&d.txt",
                                                "x>y<z.mp3", "100% #1?.txt"};
    const std::string folderName = "<b>\"dir'&";

    void SetUp() override {
        SharePageList::SetUp();
        for (const std::string& name : fileNames)
            m_temp->write("inj/" + name, "content of " + name);
        m_temp->write("inj/" + folderName + "/inside.txt", "in");
        addShare(shareName, "inj");
    }
};

TEST_F(SharePageInjection, PageHoldsOnlyEscapedForms) {
    const std::string body = page(shareName + "/");
    EXPECT_FALSE(contains(body, "<img src=x"));
    EXPECT_FALSE(contains(body, "<b>\""));
    EXPECT_FALSE(contains(body, "<i>"));
    EXPECT_FALSE(contains(body, "x>y<z"));
    EXPECT_FALSE(contains(body, "a\"b"));
    EXPECT_TRUE(contains(body,
                         "title=\"&lt;img src=x onerror=alert(1)&gt;.jpg\" >"
                         "&lt;img src=x onerror=alert(1)&gt;.jpg</a>"));
    EXPECT_TRUE(contains(body, "title=\"a&quot;b&#39;c&amp;d.txt\" >a&quot;b&#39;c&amp;d.txt</a>"));
    EXPECT_TRUE(contains(body, "title=\"&lt;b&gt;&quot;dir&#39;&amp;\" >"));
    const std::string escShare = "s&lt;i&gt;&amp;&#39;&quot;";
    EXPECT_TRUE(contains(body, "<div id=\"location\">" + escShare + "/</div>"));
    EXPECT_TRUE(contains(body, "href=\"/app/dapplinepro/share/" + escShare + "/\" title="));
    EXPECT_TRUE(contains(body, "href='/app/dapplinepro/share/" + escShare + "/?vm=list&am=share'"));
    // The upload address is a script string: the names are encoded inside it.
    const std::size_t url = body.find("upload_url: \"");
    ASSERT_NE(std::string::npos, url);
    const std::string upload = body.substr(url + 13, body.find('"', url + 13) - url - 13);
    EXPECT_TRUE(contains(upload, "&sharename=s%3Ci%3E%26%27%22&")) << upload;
    EXPECT_TRUE(contains(upload, "&dirname=s%3Ci%3E%26%27%22/&")) << upload;
    EXPECT_FALSE(contains(upload, "<"));
    EXPECT_FALSE(contains(upload, "'"));
}

TEST_F(SharePageInjection, LinksStillResolveToTheFiles) {
    const std::string body = page(shareName + "/");
    const std::vector<std::string> hrefs =
        attributesAfter(body, "<td class=\"tbl_filename\"><a ", "href");
    ASSERT_EQ(fileNames.size() + 1, hrefs.size());
    int files = 0, folders = 0;
    for (const std::string& href : hrefs) {
        SCOPED_TRACE(href);
        EXPECT_EQ(std::string::npos, href.find_first_of("<>\"'& #"));
        const std::string suffix = "/?vm=list";
        if (href.size() > suffix.size() &&
            href.compare(href.size() - suffix.size(), suffix.size(), suffix) == 0) {
            const std::string name = decodeURI(href.substr(0, href.size() - suffix.size()));
            EXPECT_EQ(folderName, name);
            const std::string sub = page(shareName + "/" + name + "/", "vm=list");
            EXPECT_TRUE(contains(sub, "title=\"inside.txt\""));
            EXPECT_TRUE(contains(sub,
                                 "<div id=\"location\">s&lt;i&gt;&amp;&#39;&quot;/"
                                 "&lt;b&gt;&quot;dir&#39;&amp;/</div>"));
            ++folders;
        } else {
            const std::string name = decodeURI(href);
            Reply r = get(shareName + "/" + name);
            EXPECT_EQ(m_temp->path() + "/inj/" + name, r.field(HTTP::S_HTTP_SEND_FILE));
            ++files;
        }
    }
    EXPECT_EQ(static_cast<int>(fileNames.size()), files);
    EXPECT_EQ(1, folders);
}

TEST_F(SharePageInjection, QueryValueCannotLeaveTheTabLinks) {
    const std::string body = page(shareName + "/", "am=%27%3E%3Cscript%3Ex()%3C%2Fscript%3E");
    EXPECT_FALSE(contains(body, "<script>x()"));
    EXPECT_TRUE(contains(body, "?vm=list&am=&#39;&gt;&lt;script&gt;x()&lt;/script&gt;'>Files</a>"));
}

}  // namespace
