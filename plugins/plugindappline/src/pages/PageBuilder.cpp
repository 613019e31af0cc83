// The file list page of a share folder. The gallery and music pages are
// built from the same pieces (PagePieces.h) in their own files. Every name
// that reaches the page is escaped where it lands; links carry the
// URI-encoded name. A folder of 100,000 files makes a page of some 50 MB,
// so the rows are written straight into one buffer reserved for the page.
#include <Poco/URI.h>

#include <algorithm>
#include <set>
#include <vector>

#include "core/DapplinePlugin.h"
#include "orvane/Defs.h"
#include "orvane/Util.h"
#include "pages/LocalTimes.h"
#include "pages/PagePieces.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const CRLF = "\r\n";
// Bytes of one file row apart from its name, and a little more.
const std::size_t ROW_BYTES = 480;

struct ListEntries {
    std::set<std::string> folders;         // byte-wise order
    std::vector<Page::FolderEntry> files;  // byte-wise order of their names
    bool hasMusic = false;
};

// Util::htmlEscape, appended.
void appendHTML(std::string& out, const char* text, std::size_t length) {
    const char* run = text;
    const char* const end = text + length;
    for (const char* c = text; c != end; ++c) {
        const char* entity = nullptr;
        switch (*c) {
            case '&':
                entity = "&amp;";
                break;
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            case '"':
                entity = "&quot;";
                break;
            case '\'':
                entity = "&#39;";
                break;
            default:
                continue;
        }
        out.append(run, static_cast<std::size_t>(c - run));
        out += entity;
        run = c + 1;
    }
    out.append(run, static_cast<std::size_t>(end - run));
}

void appendHTML(std::string& out, const std::string& text) {
    appendHTML(out, text.data(), text.size());
}

// The shortened display name, escaped.
void appendShownName(std::string& out, const std::string& name) {
    std::size_t headEnd = 0, tailStart = 0;
    if (!Page::shortenedParts(name, 50, 5, 40, headEnd, tailStart)) {
        appendHTML(out, name);
        return;
    }
    appendHTML(out, name.data(), headEnd);
    out += "...";
    appendHTML(out, name.data() + tailStart, name.size() - tailStart);
}

class RowWriter {
public:
    RowWriter(std::string& out, bool inSubfolder)
        : m_out(out), m_rowStart(inSubfolder ? "<tr>" : "<tr class=\"tbl_first_row\">") {}

    void folderRow(const std::string& name) {
        encodeName(name);
        m_out += m_rowStart;
        m_out += "<td class=\"folder\">&nbsp;</td><td class=\"tbl_filename\"><a href=\"";
        m_out += m_href;
        m_out += "/?vm=list\" title=\"";
        appendHTML(m_out, name);
        m_out += "\" >";
        appendShownName(m_out, name);
        m_out +=
            "</a></td>\r\n<td>&nbsp;</td>\r\n<td>&nbsp;</td>\r\n<td>&nbsp;</td>\r\n</tr>\r\n\r\n";
    }

    void fileRow(const Page::FolderEntry& entry) {
        encodeName(entry.name);
        const std::string ext = Page::extensionOf(entry.name);
        m_out += m_rowStart;
        m_out += "<td><img style=\"vertical-align: middle;margin-left:3px;\" border=\"0\" src=\"";
        m_out += Page::IMAGE_BASE;
        if (Page::hasFileIcon(ext)) {
            m_out += "/fileicons/";
            m_out += ext;
            m_out += ".png";
        } else {
            m_out += "/file.png";
        }
        m_out += "\"></img></td><td class=\"tbl_filename\"><a href=\"";
        m_out += m_href;
        m_out += "\" title=\"";
        appendHTML(m_out, entry.name);
        m_out += "\" >";
        appendShownName(m_out, entry.name);
        m_out += "</a></td><td class=\"tbl_right\" >";
        m_out += Util::readableFileSize(static_cast<std::int64_t>(entry.size), 0);
        m_out += "</td><td class=\"tbl_right\">";
        m_times.append(m_out, entry.modified.epochTime());
        m_out += "</td><td class=\"tbl_right\"><a href=\"";
        m_out += m_href;
        m_out +=
            "?action=download \"><img title=\"Download File\" style=\"vertical-align: "
            "middle;margin-left:3px;\" border=\"0\" src=\"";
        m_out += Page::IMAGE_BASE;
        m_out += "/dl_button.gif\"></img></a></td></tr>";
    }

private:
    void encodeName(const std::string& name) {
        m_href.clear();
        Poco::URI::encode(name, Defs::HTTP::URL_SPECIAL_CHARS, m_href);
    }

    std::string& m_out;
    const char* const m_rowStart;
    std::string m_href;  // reused: one allocation for all rows
    Page::LocalTimes m_times;
};

ListEntries collectListEntries(const std::string& folder) {
    ListEntries entries;
    if (folder.empty())
        return entries;
    Page::FolderListing listing = Page::listFolder(folder);
    entries.folders.swap(listing.folders);
    entries.files.swap(listing.files);
    std::sort(
        entries.files.begin(), entries.files.end(),
        [](const Page::FolderEntry& a, const Page::FolderEntry& b) { return a.name < b.name; });
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

std::string goUpRow() {
    return std::string(
               "<tr class=\"tbl_first_row\"><td><img style=\"vertical-align: "
               "middle;margin-left:3px;\" border=\"0\" src=\"") +
           Page::IMAGE_BASE + "/folderup.png\"></img></td>" +
           "<td class=\"tbl_filename\"><a href=\"../?vm=list\">Go up one Level</a></td>" +
           "<td class=\"tbl_right\">&nbsp;</td><td class=\"tbl_right\">&nbsp;</td>"
           "<td class=\"tbl_right\">&nbsp;</td></tr>";
}

void appendListTable(std::string& out, const Page::PageFrame& frame, const ListEntries& entries,
                     bool inSubfolder) {
    out += "<div id=\"dappline_box\"><div id=\"dpb_header\"><div id=\"location\">";
    appendHTML(out, frame.location);
    out +=
        "</div></div><div id=\"dpb_content_wrapper\"><div id=\"dpb_content\"><div>"
        "<table cellpadding=\"0\" cellspacing=\"0\"><tr>"
        "<th colspan=\"2\">Name</th><th class=\"tbl_right tbl_size\">Size</th>"
        "<th class=\"tbl_right tbl_modified\">Modified</th>"
        "<th class=\"tbl_right tbl_download\"></th></tr>";
    if (inSubfolder)
        out += goUpRow();
    RowWriter rows(out, inSubfolder);
    for (const std::string& folder : entries.folders)
        rows.folderRow(folder);
    for (const Page::FolderEntry& file : entries.files)
        rows.fileRow(file);
    if (entries.folders.empty() && entries.files.empty()) {
        out += "<tr><td colspan=\"4\">This folder does not contain any files</td></tr>";
    }
    out +=
        "</table></div></div></div><div id=\"dpb_footer\">&nbsp;</div>"
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
    std::size_t nameBytes = 0;
    for (const std::string& name : entries.folders)
        nameBytes += name.size();
    for (const Page::FolderEntry& file : entries.files)
        nameBytes += file.name.size();
    const std::string head = listHead(frame) + listHeader(frame);
    std::string page;
    // Each name lands up to five times (three links, title, shown name).
    page.reserve(head.size() + 2048 + (entries.folders.size() + entries.files.size()) * ROW_BYTES +
                 nameBytes * 5);
    page += head;
    // The tabs depend on the listing, so they are placed once it is known
    // instead of through a marker that a file name could also contain.
    page += Page::tabBar(frame, Page::Tab::Files, entries.hasMusic);
    appendListTable(page, frame, entries, inSubfolder);
    page += Page::footer(frame, false);
    page += Page::pageEnd(frame);
    return page;
}

}  // namespace Dappline
}  // namespace Orvane
