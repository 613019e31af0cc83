// The photo gallery page: thumbnails that open in the lightbox, a slideshow,
// and tiles for the sub-folders. The head, header, tabs and footer are the
// pieces the list page uses. Every name is HTML-escaped where it lands; the
// links carry it URI-encoded.
#include <Poco/Path.h>

#include <map>
#include <set>

#include "core/DapplinePlugin.h"
#include "orvane/HTTPUtil.h"
#include "orvane/PoManager.h"
#include "pages/PagePieces.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const CRLF = "\r\n";

// What the thumbnail size index chooses.
struct GalleryLayout {
    std::string boxClass;  // the attribute text, with its spaces, or ""
    std::string tileClass;
    int imagesPerRow;
    int foldersPerRow;
    std::string folderIcon;
    std::string goUpIcon;
    bool itemLinks;  // "view" and "download" under each thumbnail
};

GalleryLayout layoutFor(int thumbSize) {
    if (thumbSize == 0) {
        return {" class=\"view_64\" ",          "dpb_folder", 7, 6, "/images/dpb_folder_64.png",
                "/images/dpb_folder_up_64.png", false};
    }
    if (thumbSize == 2) {
        return {" class=\"view_256\" ",          "dpb_ph_item", 3, 3, "/images/dpb_folder_256.png",
                "/images/dpb_folder_up_256.png", true};
    }
    return {"", "dpb_folder", 5, 5, "/images/dpb_folder.png", "/images/dpb_folder_up.png", true};
}

struct GalleryEntries {
    std::set<std::string> folders;  // byte-wise order
    std::set<std::string> images;
    bool hasMusic = false;
};

bool isGalleryImage(const std::string& name) {
    const std::string type = Util::HTTP::getHTTPContentType(name);
    return type == "image/jpeg" || type == "image/png" || type == "image/raw";
}

GalleryEntries collectGalleryEntries(const std::string& folder) {
    GalleryEntries entries;
    // The file-system root itself is never shown as a gallery.
    if (folder.empty() || Poco::Path::forDirectory(folder).depth() == 0)
        return entries;
    Page::FolderListing listing = Page::listFolder(folder);
    entries.folders.swap(listing.folders);
    for (const Page::FolderEntry& file : listing.files) {
        if (isGalleryImage(file.name))
            entries.images.insert(file.name);
    }
    entries.hasMusic = listing.hasMusic;
    return entries;
}

// The column of the next tile. The folders may use fewer per row than the
// images before them; a count past the row length starts a new row.
int nextColumn(int count, int perRow) {
    return count >= perRow ? 0 : count;
}

std::string goUpTile(const GalleryLayout& layout) {
    return "<div class=\" " + layout.tileClass + " \">" + CRLF + CRLF +
           "<div class=\"folder_wrapper\"><a class=\"image\" href=\"../?vm=gallery\">" +
           "<img class=\"image\" src=\"" + Page::IMAGE_BASE + layout.goUpIcon +
           "\"></img></a></div>" + "<a href=\"../\" class=\"ph_folder_up\"> Go Up </a></div>";
}

// Tiles past the first screen of a large window load as they come into
// view, so a folder of a thousand pictures shows its first screen without
// waiting for the rest. The first screen itself is not lazy: a lazy image
// is asked for only once the page's scripts are in and laid out, which
// doubled the time to a full first screen.
const int kEagerTiles = 30;

std::string imageTile(const std::string& name, bool last, int index, int viewSize, int thumbSize,
                      bool itemLinks) {
    const bool first = index == 0;
    const std::string href = Page::encodeURIName(name);
    const std::string view = href + "?viewsize=" + std::to_string(viewSize);
    std::string out =
        std::string(last ? "<div class=\"dpb_ph_item last\">" : "<div class=\"dpb_ph_item\">") +
        CRLF + CRLF + "<div class=\"img_wrapper\"><a class=\"image\"  href=\"" + view + "\" " +
        (first ? " id='firstimagelink' " : "") + "rel=\"lightbox[slideshow]\" title=\"" +
        Page::escapeHTML(name) + "\">" + "<img class=\"image\" src=\"" +
        Page::escapeHTML(Page::encodeLinkPath(name)) + "?thumbsize=" + std::to_string(thumbSize) +
        (index < kEagerTiles ? "\"" : "\" loading=\"lazy\"") + "></img></a></div>" + CRLF + CRLF;
    if (itemLinks) {
        out += "<a href=\"" + view + "\" class=\"ph_item_view\">view</a>" + CRLF + CRLF +
               "<a href=\"" + href + "\" class=\"ph_item_download\">download</a>" + CRLF + CRLF;
    }
    return out + "</div>" + CRLF + CRLF;
}

std::string folderTile(const std::string& name, bool last, const GalleryLayout& layout) {
    const std::string href = Page::encodeURIName(name);
    return "<div class=\" " + layout.tileClass + (last ? " last\">" : "\">") +
           "<div class=\"folder_wrapper\"><a class=\"image\" href=\"" + href +
           "/?vm=gallery\"><img class=\"image\" src=\"" + Page::IMAGE_BASE + layout.folderIcon +
           "\"></img></a></div>" + "<a href=\"" + href + "/\" class=\"ph_folder\" title=\"" +
           Page::escapeHTML(name) + "\" >" + Page::escapeHTML(Page::shortenName(name, 20, 5, 12)) +
           "</a></div>" + CRLF + CRLF;
}

// The go-up, image and folder tiles; empty when there is none.
std::string galleryTiles(const GalleryEntries& entries, const GalleryLayout& layout,
                         bool inSubfolder, int viewSize, int thumbSize) {
    std::string out;
    int count = 0;
    if (inSubfolder) {
        out += goUpTile(layout);
        count = 1;
    }
    int index = 0;
    for (const std::string& name : entries.images) {
        const int column = nextColumn(count, layout.imagesPerRow);
        const bool last = column == layout.imagesPerRow - 1;
        out += imageTile(name, last, index++, viewSize, thumbSize, layout.itemLinks);
        count = column + 1;
        if (last)
            out += "<div class=\"clear\">&nbsp;</div>";
    }
    for (const std::string& name : entries.folders) {
        const int column = nextColumn(count, layout.foldersPerRow);
        const bool last = column == layout.foldersPerRow - 1;
        out += folderTile(name, last, layout);
        count = column + 1;
        if (last)
            out += std::string("<div class=\"clear\">&nbsp;</div>") + CRLF + CRLF;
    }
    if (out.empty())
        return out;
    return out + "<div class=\"clear\">&nbsp;</div>" + CRLF + CRLF;
}

std::string slideShowFunction() {
    return "function startSlideShow() { var els = document.getElementById('firstimagelink'); "
           "Lightbox.start(els); Lightbox.startSlideShow(); return false; }\n";
}

std::string lightboxElements() {
    const std::string base = Page::IMAGE_BASE;
    return "<link rel=\"stylesheet\" href=\"" + base +
           "/lightbox/css/lightbox_dapplinepro.css\" type=\"text/css\" media=\"screen\" />\n" +
           "<script type=\"text/javascript\" src=\"" + base +
           "/lightbox/js/prototype.js\"></script>\n" + "<script type=\"text/javascript\" src=\"" +
           base + "/lightbox/js/scriptaculous.js?load=effects,builder\"></script>\n" +
           "<script type=\"text/javascript\" src=\"" + base +
           "/lightbox/js/lightbox.js\"></script>\n";
}

std::string galleryHead(const Page::PageFrame& frame) {
    return "<!doctype html><html><head>" + Page::metaElements(true) + "<title>" +
           Page::escapeHTML(frame.productName) + " Dappline Photo Gallery</title>" +
           Page::styleElement(frame.css) + Page::uploadScriptElements() +
           "<script language='javascript'>\n<!--\n" + Page::spinnerFunctions() +
           Page::uploadSettingsScript(frame.uploadURL) + Page::toggleLayerFunction() +
           slideShowFunction() + Page::spinnerFunctions() + "//-->\n</script>" +
           lightboxElements() + "</head><body>";
}

std::string galleryHeader(const Page::PageFrame& frame) {
    return Page::headerStart(frame) +
           "<li><span class='photos_menu_slideshow'><a href='#' "
           "onClick='javascript:startSlideShow()' style='padding-top:5px'>" +
           Page::escapeHTML(PoManager().getTranslation("Slideshow")) + "</a></span></li>" +
           Page::zipItem(true) + "</ul></div></div>" + CRLF + CRLF;
}

std::string photoBox(const Page::PageFrame& frame, const GalleryLayout& layout,
                     const std::string& tiles) {
    return "<div id=\"dappline_photo_box\" " + layout.boxClass + " >" +
           "<div id=\"dpb_ph_header\"><div id=\"location\">" + Page::escapeHTML(frame.location) +
           "</div></div><div id=\"dpb_ph_content_wrapper\"><div id=\"dpb_ph_content\">" + CRLF +
           CRLF + tiles + "</div>" + CRLF + CRLF + "</div>" + CRLF + CRLF +
           "<div id=\"dpb_ph_footer\">&nbsp;</div>" + CRLF + CRLF + "</div>" + CRLF + CRLF +
           "</div>" + CRLF + CRLF + "</div>" + CRLF + CRLF;
}

}  // namespace

std::string DapplinePlugin::getThumbList(const std::string& folder, bool inSubfolder,
                                         const std::string& shareName, const std::string& subPath,
                                         int viewSize, int thumbSize, bool writeAccess,
                                         const std::string& guestName, const std::string& am) {
    const Page::PageFrame frame =
        Page::makePageFrame(*this, folder, shareName, subPath, writeAccess, guestName, am);
    const GalleryLayout layout = layoutFor(thumbSize);
    const GalleryEntries entries = collectGalleryEntries(folder);
    return galleryHead(frame) + galleryHeader(frame) + "<br/><br/>" +
           Page::tabBar(frame, Page::Tab::Gallery, entries.hasMusic) +
           photoBox(frame, layout,
                    galleryTiles(entries, layout, inSubfolder, viewSize, thumbSize)) +
           Page::footer(frame, false) + "</body>" + CRLF + CRLF + "</html>";
}

}  // namespace Dappline
}  // namespace Orvane
