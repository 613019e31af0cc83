// The pieces that the share pages (file list, gallery, music) have in common:
// escaping for HTML text and attributes, JavaScript strings and links, name
// helpers, and the head, header, tabs and footer fragments. Free functions
// without state, safe from any thread; PageFrame gathers the values that one
// page build reads once from the plug-in, the database and the host.
#pragma once

#include <Poco/Timestamp.h>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace Orvane {
namespace Dappline {

class DapplinePlugin;

namespace Page {

// The plug-in's web root; every icon, script and image lies below it.
extern const char* const IMAGE_BASE;

// --- Escaping. Each one leaves text without special characters unchanged.
// HTML text and attribute values (either quote): & < > " '.
std::string escapeHTML(const std::string& text);
// The inside of a JavaScript (or JSON) string literal in either quote, safe
// inside a <script> element: quotes, backslash, < >, controls, U+2028/9.
std::string escapeJSString(const std::string& text);
// A name as one URI path segment or query value: the URI encoder with the
// link special characters reserved.
std::string encodeURIName(const std::string& text);
// A query value that may hold "/" (a share-relative path): "/" stays.
std::string encodeQueryValue(const std::string& text);
// A path written raw into a link: only the characters that would end or
// bend the path (% # ? \) are percent-encoded.
std::string encodeLinkPath(const std::string& text);

// --- Names.
// Longer than maxChars characters (UTF-8 aware): the first head, "...",
// the last tail characters; otherwise the name itself.
std::string shortenName(const std::string& name, std::size_t maxChars, std::size_t head,
                        std::size_t tail);
// The same as byte offsets: false when the name is shown whole, else true
// with the end of the head part and the start of the tail part.
bool shortenedParts(const std::string& name, std::size_t maxChars, std::size_t head,
                    std::size_t tail, std::size_t& headEnd, std::size_t& tailStart);
// Text after the last dot, as written; "" without a dot.
std::string extensionOf(const std::string& name);
// The extension has its own icon in fileicons/ (case-sensitive).
bool hasFileIcon(const std::string& extension);
// Exactly "mp3" or "MP3".
bool isMusicExtension(const std::string& extension);

// --- Values one page build needs.
struct PageFrame {
    std::string productName;
    std::string productWebsite;
    std::string css;
    std::string ownerName;
    std::string shareName;
    std::string location;      // shareName + "/" + subPath, as shown
    std::string tabBase;       // share URL + location, as a link (not HTML-escaped)
    std::string customHeader;  // "DEFAULT_IMAGE" when the owner set none
    bool customLogo = false;
    bool writeAccess = false;
    std::string am;
    std::string uploadURL;  // raw; escaped where it lands
};

// The frame of the list page; the upload address carries the location text
// as "dirname".
PageFrame makePageFrame(DapplinePlugin& plugin, const std::string& folder,
                        const std::string& shareName, const std::string& subPath, bool writeAccess,
                        const std::string& guestName, const std::string& am);
// dirName is the "dirname" value already encoded for the query.
std::string uploadAddress(const std::string& folder, const std::string& dirName,
                          const std::string& shareName, const std::string& guestName);

// --- Folder contents.
struct FolderEntry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
    Poco::Timestamp modified;
};
// The entries of folder that the host's path and file filters allow, hidden
// ones (a name starting with ".") never, in the order the directory yields
// them: one pass over the directory and at most one lstat per entry (a
// link's target is stat'ed too), shared with a second thread for a large
// folder. A folder that cannot be opened throws the file library's
// exception; an entry that vanishes meanwhile is left out.
std::vector<FolderEntry> allowedEntries(const std::string& folder);
// What the list and gallery pages show of a folder: allowedEntries, the
// folders by name (byte-wise order).
struct FolderListing {
    std::set<std::string> folders;
    std::vector<FolderEntry> files;  // directory order
    bool hasMusic = false;
};
FolderListing listFolder(const std::string& folder);

// --- Head.
// The two meta elements; the second is followed by CR LF CR LF, or by a tab.
std::string metaElements(bool tabAfter);
// <style> with the plug-in's style sheet, CR LF spaced.
std::string styleElement(const std::string& css);
// The four script elements of the multipart upload widget, on every page;
// where the page shows the upload panel, the panel's own uploader
// (js/uploader.js, loaded by the panel) takes the widget's place.
std::string uploadScriptElements();
// hideSpinner and showSpinner, each followed by a newline.
std::string spinnerFunctions();
// "var swfu;" and the window.onload that builds the upload button.
std::string uploadSettingsScript(const std::string& uploadURL);
std::string toggleLayerFunction();

// --- Header: the spinner, the content divisions, the logo, the header list
// with the home item and (with write access) the upload item with its panel
// and uploader script. The list is left open for the page's own items.
std::string headerStart(const PageFrame& frame);
// The "Download Zip" item, as a div (list and music) or a span (gallery).
std::string zipItem(bool spanForm);

// --- Tabs.
enum class Tab { Files, Gallery, Music };
std::string tabBar(const PageFrame& frame, Tab active, bool withMusic);

// --- Footer: the "used ... to share this folder" line with the local time,
// up to and including ".</div>" CR LF CR LF. The music page writes two
// spaces before the link's style attribute.
std::string footer(const PageFrame& frame, bool twoSpacesBeforeStyle);
// Makes the host ask for credentials (pages with write access).
std::string forceAuthImage();
// The end of the list and music pages after the footer: the content closed,
// forceAuthImage with write access, the document closed.
std::string pageEnd(const PageFrame& frame);

}  // namespace Page
}  // namespace Dappline
}  // namespace Orvane
