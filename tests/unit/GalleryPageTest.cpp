// The photo gallery page: the tile grid per thumbnail size (columns, row
// ends, go-up and folder tiles), which files become thumbnails, the
// slideshow anchor, shortened folder names, and names that try to break
// out of the page.
#include <Poco/File.h>

#include "SharePageFixture.h"
#include "orvane/Customization.h"

using namespace SharePageTest;

namespace {

// One tile of the grid as the page wrote it.
struct Tile {
    std::string kind;  // "up", "image" or "folder"
    std::string cssClass;
    std::string name;  // the title (as escaped in the page), empty for go-up
    bool clearAfter = false;
};

class GalleryPage : public ShareFixture {
protected:
    void SetUp() override {
        Orvane::CustomizationManager().clear();
        ShareFixture::SetUp();
    }

    std::string gallery(const std::string& folder, bool inSubfolder, int thumbSize,
                        int viewSize = 1, bool writeAccess = false,
                        const std::string& subPath = "") {
        return m_plugin->getThumbList(m_temp->path() + "/" + folder, inSubfolder, "pics",
                                      subPath.empty() && inSubfolder ? "sub/" : subPath, viewSize,
                                      thumbSize, writeAccess, "", "share");
    }

    void images(const std::string& folder, int n) {
        for (int i = 0; i < n; ++i)
            m_temp->write(folder + "/img" + std::string(1, static_cast<char>('a' + i)) + ".jpg",
                          "x");
    }
    void folders(const std::string& folder, int n) {
        for (int i = 0; i < n; ++i)
            m_temp->mkdir(folder + "/dir" + std::string(1, static_cast<char>('a' + i)));
    }

    // The tiles in page order, read back from the photo box.
    static std::vector<Tile> tiles(const std::string& page) {
        const std::size_t start = page.find("<div id=\"dpb_ph_content\">");
        const std::size_t end = page.find("<div id=\"dpb_ph_footer\">");
        const std::string box = page.substr(start, end - start);
        // Every division that opens a tile or a clear, with its class.
        std::vector<std::pair<std::size_t, std::string>> marks;
        const std::string open = "<div class=\"";
        for (std::size_t pos = box.find(open); pos != std::string::npos;
             pos = box.find(open, pos + 1)) {
            const std::size_t q = box.find('"', pos + open.size());
            const std::string cls = box.substr(pos + open.size(), q - pos - open.size());
            if (cls != "img_wrapper" && cls != "folder_wrapper")
                marks.emplace_back(pos, cls);
        }
        std::vector<Tile> out;
        for (std::size_t i = 0; i < marks.size(); ++i) {
            if (marks[i].second == "clear") {
                if (!out.empty())
                    out.back().clearAfter = true;
                continue;
            }
            const std::size_t next = i + 1 < marks.size() ? marks[i + 1].first : box.size();
            const std::string body = box.substr(marks[i].first, next - marks[i].first);
            Tile tile;
            tile.cssClass = marks[i].second;
            if (contains(body, "ph_folder_up")) {
                tile.kind = "up";
            } else {
                tile.kind = contains(body, "img_wrapper") ? "image" : "folder";
                const std::vector<std::string> titles = attributesAfter(body, "title=", "title");
                tile.name = titles.empty() ? "" : titles.front();
            }
            out.push_back(tile);
        }
        return out;
    }

    static std::string photoBoxOf(const std::string& page) {
        const std::size_t start = page.find("<div id=\"dappline_photo_box\"");
        return page.substr(start, page.find("<div class=\"footer\">") - start);
    }

    static bool endsWith(const std::string& text, const std::string& end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    }

    static std::vector<std::size_t> lastIndices(const std::vector<Tile>& tiles) {
        std::vector<std::size_t> out;
        for (std::size_t i = 0; i < tiles.size(); ++i) {
            const std::string& c = tiles[i].cssClass;
            if (c.size() >= 4 && c.compare(c.size() - 4, 4, "last") == 0) {
                out.push_back(i);
                EXPECT_TRUE(tiles[i].clearAfter) << "row end without a clear at " << i;
            } else if (i + 1 < tiles.size()) {
                EXPECT_FALSE(tiles[i].clearAfter) << "clear inside a row at " << i;
            }
        }
        return out;
    }
};

TEST_F(GalleryPage, MediumThumbnailsFiveARowAfterTheGoUpTile) {
    images("pics/sub", 12);
    const std::string page = gallery("pics/sub", true, 1);
    const std::vector<Tile> t = tiles(page);
    ASSERT_EQ(13u, t.size());
    EXPECT_EQ("up", t[0].kind);
    EXPECT_EQ(" dpb_folder ", t[0].cssClass);
    // Go-up in column 0, images in 1-4, 0-4, 0-2.
    EXPECT_EQ((std::vector<std::size_t>{4, 9}), lastIndices(t));
    for (std::size_t i = 1; i < t.size(); ++i) {
        EXPECT_EQ("image", t[i].kind);
        EXPECT_EQ(i == 4 || i == 9 ? "dpb_ph_item last" : "dpb_ph_item", t[i].cssClass);
    }
    EXPECT_EQ("imga.jpg", t[1].name);
    EXPECT_EQ("imgl.jpg", t[12].name);
    EXPECT_TRUE(contains(page, "<div id=\"dappline_photo_box\"  >"));
    EXPECT_TRUE(contains(page, "src=\"/app/dapplinepro/images/dpb_folder_up.png\""));
    EXPECT_EQ(12u, countOf(page, "class=\"ph_item_view\">view</a>"));
    EXPECT_EQ(12u, countOf(page, "class=\"ph_item_download\">download</a>"));
}

TEST_F(GalleryPage, LargeThumbnailsThreeARowForImagesAndFolders) {
    images("pics/sub", 5);
    folders("pics/sub", 4);
    const std::string page = gallery("pics/sub", true, 2);
    const std::vector<Tile> t = tiles(page);
    ASSERT_EQ(10u, t.size());
    // up, i0, i1 | i2 i3 i4 | f0 f1 f2 | f3
    EXPECT_EQ((std::vector<std::size_t>{2, 5, 8}), lastIndices(t));
    EXPECT_EQ(" dpb_ph_item ", t[0].cssClass);
    EXPECT_EQ(" dpb_ph_item", t[6].cssClass);
    EXPECT_EQ(" dpb_ph_item last", t[8].cssClass);
    EXPECT_EQ("folder", t[9].kind);
    EXPECT_EQ("dird", t[9].name);
    EXPECT_TRUE(contains(page, "<div id=\"dappline_photo_box\"  class=\"view_256\"  >"));
    EXPECT_TRUE(contains(page, "src=\"/app/dapplinepro/images/dpb_folder_256.png\""));
    EXPECT_TRUE(contains(page, "src=\"/app/dapplinepro/images/dpb_folder_up_256.png\""));
}

TEST_F(GalleryPage, SmallThumbnailsSevenImagesSixFoldersNoLinks) {
    images("pics", 7);
    folders("pics", 6);
    const std::string page = gallery("pics", false, 0, 2);
    const std::vector<Tile> t = tiles(page);
    ASSERT_EQ(13u, t.size());
    EXPECT_EQ("image", t[0].kind);
    // The images fill one row of seven; the folders then start a row of six.
    EXPECT_EQ((std::vector<std::size_t>{6, 12}), lastIndices(t));
    EXPECT_EQ(" dpb_folder last", t[12].cssClass);
    EXPECT_EQ(" dpb_folder", t[7].cssClass);
    const std::string box = photoBoxOf(page);
    EXPECT_FALSE(contains(box, "ph_item_view"));
    EXPECT_FALSE(contains(box, "ph_item_download"));
    EXPECT_TRUE(contains(page, "<div id=\"dappline_photo_box\"  class=\"view_64\"  >"));
    EXPECT_TRUE(contains(page, "src=\"/app/dapplinepro/images/dpb_folder_64.png\""));
    EXPECT_TRUE(contains(page, "href=\"imga.jpg?viewsize=2\" "));
    EXPECT_TRUE(contains(page, "src=\"imga.jpg?thumbsize=0\""));

    // Six images then six folders: the first folder ends the folders' row
    // at column five like any other.
    Poco::File(m_temp->path() + "/pics/imgg.jpg").remove();
    const std::vector<Tile> u = tiles(gallery("pics", false, 0));
    ASSERT_EQ(12u, u.size());
    EXPECT_EQ((std::vector<std::size_t>{11}), lastIndices(u));
}

TEST_F(GalleryPage, OnlyTheFirstImageIsTheSlideshowAnchor) {
    m_temp->write("pics/b.jpg", "x");
    m_temp->write("pics/a.png", "x");
    m_temp->mkdir("pics/folder");
    const std::string page = gallery("pics", false, 1);
    EXPECT_EQ(1u, countOf(page, "id='firstimagelink'"));
    EXPECT_TRUE(contains(page,
                         "<a class=\"image\"  href=\"a.png?viewsize=1\"  id='firstimagelink' "
                         "rel=\"lightbox[slideshow]\" title=\"a.png\"><img class=\"image\" "
                         "src=\"a.png?thumbsize=1\"></img></a></div>"));
    EXPECT_TRUE(contains(page,
                         "<a class=\"image\"  href=\"b.jpg?viewsize=1\" "
                         "rel=\"lightbox[slideshow]\" title=\"b.jpg\">"));

    m_temp->mkdir("noimages/only");
    EXPECT_FALSE(contains(gallery("noimages", false, 1), "id='firstimagelink'"));

    // Past the first screen's thirty tiles, thumbnails wait until seen.
    for (int i = 0; i < 30; ++i)
        m_temp->write("many/p" + std::to_string(100 + i) + ".jpg", "x");
    const std::string many = gallery("many", false, 1);
    EXPECT_EQ(0u, countOf(many, "loading=\"lazy\""));
    m_temp->write("many/p999.jpg", "x");
    const std::string more = gallery("many", false, 1);
    EXPECT_EQ(1u, countOf(more, "loading=\"lazy\""));
    EXPECT_TRUE(contains(more, "src=\"p999.jpg?thumbsize=1\" loading=\"lazy\">"));
}

TEST_F(GalleryPage, ThumbnailsOnlyForJpegPngAndRaw) {
    for (const char* name : {"a.jpg", "b.JPEG", "c.png", "d.cr2", "e.gif", "f.txt", "g.bmp",
                             "h.mp3", ".hidden.jpg", "noext"})
        m_temp->write(std::string("pics/") + name, "x");
    m_temp->mkdir("pics/dir.jpg");
    const std::vector<Tile> t = tiles(gallery("pics", false, 1));
    std::vector<std::string> imageNames, folderNames;
    for (const Tile& tile : t)
        (tile.kind == "image" ? imageNames : folderNames).push_back(tile.name);
    EXPECT_EQ((std::vector<std::string>{"a.jpg", "b.JPEG", "c.png", "d.cr2"}), imageNames);
    EXPECT_EQ((std::vector<std::string>{"dir.jpg"}), folderNames);
}

TEST_F(GalleryPage, FolderNamesShortenedPastTwentyCharacters) {
    const std::string twenty = "Summer2010Holidays20";
    const std::string twentyOne = "Summer2010Holidays-21";
    ASSERT_EQ(20u, twenty.size());
    ASSERT_EQ(21u, twentyOne.size());
    m_temp->mkdir("pics/" + twenty);
    m_temp->mkdir("pics/" + twentyOne);
    const std::string page = gallery("pics", false, 1);
    EXPECT_TRUE(contains(page, "<a href=\"" + twenty + "/\" class=\"ph_folder\" title=\"" + twenty +
                                   "\" >" + twenty + "</a>"));
    const std::string shown = "Summe...0Holidays-21";
    EXPECT_EQ(20u, shown.size());
    EXPECT_TRUE(contains(page, "<a href=\"" + twentyOne + "/\" class=\"ph_folder\" title=\"" +
                                   twentyOne + "\" >" + shown + "</a>"));
    EXPECT_TRUE(contains(page, "<a class=\"image\" href=\"" + twentyOne + "/?vm=gallery\">"));
}

TEST_F(GalleryPage, ImageSourceUnencodedLinksEncoded) {
    m_temp->write("pics/my photo.jpg", "x");
    const std::string page = gallery("pics", false, 1);
    EXPECT_TRUE(contains(page, "href=\"my%20photo.jpg?viewsize=1\" "));
    EXPECT_TRUE(contains(page, "src=\"my photo.jpg?thumbsize=1\""));
    EXPECT_TRUE(contains(page, "<a href=\"my%20photo.jpg\" class=\"ph_item_download\">"));
}

TEST_F(GalleryPage, EmptyFoldersAndTheFileSystemRoot) {
    m_temp->mkdir("pics/empty");
    const std::string root = gallery("pics/empty", false, 1);
    EXPECT_TRUE(tiles(root).empty());
    EXPECT_TRUE(contains(root, "<div id=\"dpb_ph_content\">\r\n\r\n</div>"));
    const std::vector<Tile> sub = tiles(gallery("pics/empty", true, 1));
    ASSERT_EQ(1u, sub.size());
    EXPECT_EQ("up", sub[0].kind);

    const std::string fsRoot = m_plugin->getThumbList("/", false, "root", "", 1, 1, false, "", "");
    EXPECT_TRUE(tiles(fsRoot).empty());
}

TEST_F(GalleryPage, HeadHeaderTabsAndEnd) {
    m_temp->write("pics/a.jpg", "x");
    std::string page = gallery("pics", false, 1, 1, true);
    EXPECT_EQ(0u, page.find("<!doctype html><html><head>"));
    EXPECT_TRUE(contains(page, "charset=utf-8\" />\t<title>Orvane Dappline Photo Gallery</title>"));
    const std::size_t css = page.find("/lightbox/css/lightbox_dapplinepro.css");
    const std::size_t proto = page.find("/lightbox/js/prototype.js\"");
    const std::size_t scripty = page.find("/lightbox/js/scriptaculous.js?load=effects,builder\"");
    const std::size_t lightbox = page.find("/lightbox/js/lightbox.js\"");
    ASSERT_NE(std::string::npos, css);
    EXPECT_LT(css, proto);
    EXPECT_LT(proto, scripty);
    EXPECT_LT(scripty, lightbox);
    EXPECT_TRUE(contains(page, "Lightbox.start(els); Lightbox.startSlideShow(); return false;"));
    EXPECT_TRUE(contains(page,
                         "<li><span class='photos_menu_slideshow'><a href='#' "
                         "onClick='javascript:startSlideShow()' "
                         "style='padding-top:5px'>Slideshow</a></span></li><li><span "
                         "class='downloadzip'>"));
    EXPECT_TRUE(contains(page, "Download Zip</a></span></li></ul></div></div>\r\n\r\n<br/><br/>"));
    EXPECT_TRUE(contains(page, "<div id=\"swfcontent_link\""));
    EXPECT_TRUE(contains(page,
                         "<div id=\"tab_navi\" style='width:226px'><a id=\"files\" "
                         "href='/app/dapplinepro/share/pics/?vm=list&am=share'>Files</a><a "
                         "id=\"gallery_active\" "
                         "href='/app/dapplinepro/share/pics/?vm=gallery&am=share'>Gallery</a></"
                         "div><div id=\"dappline_photo_box\""));
    EXPECT_FALSE(contains(page, "force_auth.gif"));
    EXPECT_TRUE(endsWith(page, ".</div>\r\n\r\n</body>\r\n\r\n</html>"));

    m_temp->write("pics/song.MP3", "x");
    page = gallery("pics", false, 1);
    EXPECT_TRUE(contains(page,
                         "<div id=\"tab_navi\"><a id=\"files\" "
                         "href='/app/dapplinepro/share/pics/?vm=list&am=share'>Files</a><a "
                         "id=\"gallery_active\" "
                         "href='/app/dapplinepro/share/pics/?vm=gallery&am=share'>Gallery</a><a "
                         "id=\"music\" "
                         "href='/app/dapplinepro/share/pics/?vm=music&am=share'>Music</a></div>"));
    EXPECT_FALSE(contains(page, "<div id=\"swfcontent_link\""));
}

TEST_F(GalleryPage, ServedForTheGalleryViewWithTheSharesSizes) {
    m_temp->write("album/a.jpg", "x");
    Orvane::Dappline::Dappline share("album", m_temp->path() + "/album", "GALLERY", "", 0, 1, 2, 1);
    ASSERT_TRUE(db().addShare(share));
    const TestSupport::Reply r = get("album/");
    EXPECT_EQ(200, r.status);
    EXPECT_TRUE(contains(r.body, "class=\"view_256\""));
    EXPECT_TRUE(contains(r.body, "href=\"a.jpg?viewsize=1\""));
    EXPECT_TRUE(contains(r.body, "src=\"a.jpg?thumbsize=2\""));
}

TEST_F(GalleryPage, NamesCannotLeaveTheirAttributes) {
    const std::string image = "x\"><svg onload=alert(1)>'&.jpg";
    const std::string folder = "<img src=y onerror=alert(2)>";
    const std::string hashes = "100% #1?.png";
    m_temp->write("pics/" + image, "x");
    m_temp->write("pics/" + hashes, "x");
    m_temp->mkdir("pics/" + folder);
    const std::string page = m_plugin->getThumbList(m_temp->path() + "/pics", false, "p<'\">", "",
                                                    1, 1, false, "", "share");
    EXPECT_FALSE(contains(page, "<svg"));
    EXPECT_FALSE(contains(page, "<img src=y"));
    EXPECT_FALSE(contains(page, "p<'"));
    EXPECT_TRUE(contains(page, "title=\"x&quot;&gt;&lt;svg onload=alert(1)&gt;&#39;&amp;.jpg\">"));
    EXPECT_TRUE(contains(page, "title=\"&lt;img src=y onerror=alert(2)&gt;\" >&lt;img ..."));
    EXPECT_TRUE(contains(page, "<div id=\"location\">p&lt;&#39;&quot;&gt;/</div>"));
    // Every link and source still names the file once decoded.
    for (const std::string& href : attributesAfter(page, "<a class=\"image\"  ", "href")) {
        const std::string name = decodeURI(href.substr(0, href.find("?viewsize=")));
        EXPECT_TRUE(name == image || name == hashes) << href;
    }
    EXPECT_TRUE(contains(page, "src=\"100%25 %231%3F.png?thumbsize=1\""));
}

}  // namespace
