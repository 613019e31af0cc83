// The file list page of a share folder. The gallery and music pages are
// built from the same pieces (PagePieces.h) in their own files. Every name
// that reaches the page is escaped where it lands; links carry the
// URI-encoded name.
#include <map>
#include <set>

#include "core/DapplinePlugin.h"
#include "orvane/Util.h"
#include "pages/PagePieces.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const CRLF = "\r\n";

struct ListEntries {
    std::set<std::string> folders;             // byte-wise order
    std::map<std::string, std::string> files;  // name -> row text
    bool hasMusic = false;
};

std::string fileRowText(const Page::FolderEntry& entry) {
    const std::string ext = Page::extensionOf(entry.name);
    const std::string href = Page::encodeURIName(entry.name);
    const std::string icon = Page::hasFileIcon(ext) ? "/fileicons/" + ext + ".png" : "/file.png";
    return std::string(
               "<td><img style=\"vertical-align: middle;margin-left:3px;\" border=\"0\" "
               "src=\"") +
           Page::IMAGE_BASE + icon + "\"></img>" + "</td><td class=\"tbl_filename\"><a href=\"" +
           href + "\" title=\"" + Page::escapeHTML(entry.name) + "\" >" +
           Page::escapeHTML(Page::shortenName(entry.name, 50, 5, 40)) + "</a>" +
           "</td><td class=\"tbl_right\" >" +
           Util::readableFileSize(static_cast<std::int64_t>(entry.size), 0) +
           "</td><td class=\"tbl_right\">" + Util::localNiceTimeStrFromUTCTime(entry.modified) +
           "</td>" + "<td class=\"tbl_right\"><a href=\"" + href + "?action=download \">" +
           "<img title=\"Download File\" style=\"vertical-align: middle;margin-left:3px;\" "
           "border=\"0\" src=\"" +
           Page::IMAGE_BASE + "/dl_button.gif\"></img>" + "</a></td>";
}

ListEntries collectListEntries(const std::string& folder) {
    ListEntries entries;
    if (folder.empty())
        return entries;
    Page::FolderListing listing = Page::listFolder(folder);
    entries.folders.swap(listing.folders);
    for (const Page::FolderEntry& file : listing.files)
        entries.files[file.name] = fileRowText(file);
    entries.hasMusic = listing.hasMusic;
    return entries;
}

std::string listHead(const Page::PageFrame& frame) {
    return "<!doctype html><html><head>" + Page::metaElements(false) + "<title>" +
           Page::escapeHTML(frame.productName) + " Dappline</title>" + CRLF + CRLF +
           Page::styleElement(frame.css) + Page::uploadScriptElements() +
           "<script language='javascript'><!--\n" + Page::spinnerFunctions() +
           Page::uploadSettingsScript(frame.uploadURL) + Page::toggleLayerFunction() +
           "//-->\n</script>" + "</head>" + CRLF + CRLF + "<body>" + CRLF + CRLF;
}

std::string listHeader(const Page::PageFrame& frame) {
    return Page::headerStart(frame) + Page::zipItem(false) + "</ul></div></div><br/><br/>";
}

std::string folderRow(const std::string& rowStart, const std::string& name) {
    return rowStart + "<td class=\"folder\">&nbsp;</td>" + "<td class=\"tbl_filename\"><a href=\"" +
           Page::encodeURIName(name) + "/?vm=list\" title=\"" + Page::escapeHTML(name) + "\" >" +
           Page::escapeHTML(Page::shortenName(name, 50, 5, 40)) + "</a>" + "</td>" + CRLF +
           "<td>&nbsp;" + "</td>" + CRLF + "<td>&nbsp;</td>" + CRLF + "<td>&nbsp;</td>" + CRLF +
           "</tr>" + CRLF + CRLF;
}

std::string goUpRow() {
    return std::string(
               "<tr class=\"tbl_first_row\"><td><img style=\"vertical-align: "
               "middle;margin-left:3px;\" border=\"0\" src=\"") +
           Page::IMAGE_BASE + "/folderup.png\"></img></td>" +
           "<td class=\"tbl_filename\"><a href=\"../?vm=list\">Go up one Level</a></td>" +
           "<td class=\"tbl_right\">&nbsp;</td><td class=\"tbl_right\">&nbsp;</td>"
           "<td class=\"tbl_right\">&nbsp;</td></tr>";
}

std::string listTable(const Page::PageFrame& frame, const ListEntries& entries, bool inSubfolder) {
    std::string out = "<div id=\"dappline_box\"><div id=\"dpb_header\"><div id=\"location\">" +
                      Page::escapeHTML(frame.location) + "</div></div>" +
                      "<div id=\"dpb_content_wrapper\"><div id=\"dpb_content\"><div>" +
                      "<table cellpadding=\"0\" cellspacing=\"0\"><tr>" +
                      "<th colspan=\"2\">Name</th><th class=\"tbl_right tbl_size\">Size</th>" +
                      "<th class=\"tbl_right tbl_modified\">Modified</th>" +
                      "<th class=\"tbl_right tbl_download\"></th></tr>";
    if (inSubfolder)
        out += goUpRow();
    const std::string rowStart = inSubfolder ? "<tr>" : "<tr class=\"tbl_first_row\">";
    for (const std::string& folder : entries.folders)
        out += folderRow(rowStart, folder);
    for (const auto& file : entries.files)
        out += rowStart + file.second + "</tr>";
    if (entries.folders.empty() && entries.files.empty()) {
        out += "<tr><td colspan=\"4\">This folder does not contain any files</td></tr>";
    }
    return out + "</table></div></div></div><div id=\"dpb_footer\">&nbsp;</div>" +
           "</div></div></div>";
}

}  // namespace

std::string DapplinePlugin::getFileList(const std::string& folder, bool inSubfolder,
                                        const std::string& shareName, const std::string& subPath,
                                        bool writeAccess, const std::string& guestName,
                                        const std::string& am) {
    const Page::PageFrame frame =
        Page::makePageFrame(*this, folder, shareName, subPath, writeAccess, guestName, am);
    const ListEntries entries = collectListEntries(folder);
    // The tabs depend on the listing, so they are placed once it is known
    // instead of through a marker that a file name could also contain.
    return listHead(frame) + listHeader(frame) +
           Page::tabBar(frame, Page::Tab::Files, entries.hasMusic) +
           listTable(frame, entries, inSubfolder) + Page::footer(frame, false) +
           Page::pageEnd(frame);
}

}  // namespace Dappline
}  // namespace Orvane
