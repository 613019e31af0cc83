#include "pages/PagePieces.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/LocalDateTime.h>
#include <Poco/URI.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <system_error>
#include <thread>
#include <vector>

#include "core/DapplinePlugin.h"
#include "orvane/Customization.h"
#include "orvane/Defs.h"
#include "orvane/FolderScreen.h"
#include "orvane/PoManager.h"
#include "orvane/ProfileManager.h"
#include "orvane/Util.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {
namespace Page {

const char* const IMAGE_BASE = "/app/dapplinepro";

namespace {

const char* const ICON_EXTENSIONS =
    ";ai;aiff;bz;c;chm;conf;cpp;css;csv;deb;divx;doc;file;gif;gz;hlp;htm;html;iso;jpeg;jpg;js;"
    "mov;mp3;mpg;odc;odf;odg;odi;odp;ods;odt;ogg;pdf;pgp;php;pl;png;ppt;ps;py;ram;rar;rb;rm;"
    "rpm;rtf;sql;swf;sxc;sxd;sxi;sxw;tar;tex;tgz;txt;vcf;wav;wma;wmv;xls;xml;xpi;xvid;zip;";

std::string hexEscape(const char* prefix, unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%s%0*X", prefix, digits, value);
    return buf;
}

std::string logoAnchor(const PageFrame& frame, const std::string& cssClass,
                       const std::string& heading) {
    return "<a class=\"" + cssClass + "\" href=\"" + IMAGE_BASE + "/share/" +
           escapeHTML(encodeLinkPath(frame.shareName)) + "/\" title=\"" +
           escapeHTML(frame.productName) + " Dappline\"><h1>" + heading + "</h1></a>";
}

std::string logo(const PageFrame& frame) {
    if (frame.customLogo)
        return logoAnchor(frame, "orvane_dappline_logo_custom", "");
    if (!frame.customHeader.empty() && frame.customHeader != "DEFAULT_IMAGE") {
        return logoAnchor(frame, "norrit_title_text", escapeHTML(frame.customHeader)) +
               "<a class='orvane_powered_logo' title='Orvane' href='" +
               escapeHTML(frame.productWebsite) + "'><h1>ORVANE</h1></a>";
    }
    return logoAnchor(frame, "orvane_dappline_logo", "");
}

// The upload panel: files or a whole folder through the buttons, or
// dropped onto the page; js/uploader.js sends them to the panel's address,
// resumable where the host offers it.
std::string uploadItem(const PageFrame& frame) {
    return std::string(
               "<li><div align='right'>"
               "<div id=\"swfcontent_link\" style=\"display: block;\" class='uploadicon'>"
               "<a href=\"javascript:void(0)\" onClick=\"toggleLayer('swf_content');"
               "toggleLayer('swfcontent_link');\" title=\"Upload a File\" "
               "style='padding-top:5px'>Upload File</a></div>"
               "<div id=\"swf_content\" align='left' style='z-index:1;' "
               "data-upload-url=\"") +
           escapeHTML(frame.uploadURL) +
           "\"><div class=\"upl-choose\">"
           "<label class=\"upl-button\">Upload files"
           "<input class=\"upl-files\" type=\"file\" multiple=\"multiple\" /></label>"
           "<label class=\"upl-button upl-secondary\">Upload a folder"
           "<input class=\"upl-folder\" type=\"file\" webkitdirectory=\"webkitdirectory\" "
           "/></label></div>"
           "<div class=\"upl-hint\">or drop files and folders onto the page</div>"
           "<div class=\"fieldset upl-list\" id=\"fsUploadProgress\"></div>"
           "<div id=\"divStatus\" class=\"upl-total\" role=\"status\">0 Files Uploaded</div>"
           "<div><input id=\"btnCancel\" class=\"upl-cancel\" type=\"button\" "
           "value=\"Cancel All Uploads\" disabled=\"disabled\" />"
           "<input id=\"btnClose\" type=\"button\" value=\"Close\" "
           "onclick=\"toggleLayer('swf_content');toggleLayer('swfcontent_link');"
           "window.location.reload();\" />"
           "</div></div><script type=\"text/javascript\" src=\"" +
           IMAGE_BASE + "/js/uploader.js\"></script></div></li>";
}

std::string tabLink(const std::string& id, const std::string& base, const std::string& vm,
                    const std::string& am, const std::string& label) {
    return "<a id=\"" + id + "\" href='" + base + "?vm=" + vm + "&am=" + am + "'>" + label + "</a>";
}

}  // namespace

std::string escapeHTML(const std::string& text) {
    return Util::htmlEscape(text);
}

// Not the owner API's JSON quoting: a string inside a page's script must also hide ' < >.
std::string escapeJSString(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\'':
            case '<':
            case '>':
                out += hexEscape("\\u", c, 4);
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += hexEscape("\\u", c, 4);
                } else if (c == 0xE2 && i + 2 < text.size() &&
                           static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                            static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                    // Line and paragraph separators end a string literal in older engines.
                    out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string encodeURIName(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, Defs::HTTP::URL_SPECIAL_CHARS, out);
    return out;
}

std::string encodeQueryValue(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "#&+=?;", out);
    return out;
}

std::string encodeLinkPath(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '%' || c == '#' || c == '?' || c == '\\') {
            out += hexEscape("%", static_cast<unsigned char>(c), 2);
        } else {
            out += c;
        }
    }
    return out;
}

bool shortenedParts(const std::string& name, std::size_t maxChars, std::size_t head,
                    std::size_t tail, std::size_t& headEnd, std::size_t& tailStart) {
    std::size_t chars = 0;
    for (char c : name)
        chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    if (chars <= maxChars)
        return false;
    // Byte offsets of character number `head` and of number chars - tail.
    std::size_t index = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80)
            continue;
        if (index == head)
            headEnd = i;
        if (index == chars - tail)
            tailStart = i;
        ++index;
    }
    return true;
}

std::string shortenName(const std::string& name, std::size_t maxChars, std::size_t head,
                        std::size_t tail) {
    std::size_t headEnd = 0, tailStart = 0;
    if (!shortenedParts(name, maxChars, head, tail, headEnd, tailStart))
        return name;
    return name.substr(0, headEnd) + "..." + name.substr(tailStart);
}

std::string extensionOf(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool hasFileIcon(const std::string& extension) {
    if (extension.empty())
        return false;
    // Asked once per listed file: a search of the list text without a copy.
    for (const char* at = std::strstr(ICON_EXTENSIONS, extension.c_str()); at != nullptr;
         at = std::strstr(at + 1, extension.c_str())) {
        if (at > ICON_EXTENSIONS && at[-1] == ';' && at[extension.size()] == ';')
            return true;
    }
    return false;
}

bool isMusicExtension(const std::string& extension) {
    return extension == "mp3" || extension == "MP3";
}

PageFrame makePageFrame(DapplinePlugin& plugin, const std::string& folder,
                        const std::string& shareName, const std::string& subPath, bool writeAccess,
                        const std::string& guestName, const std::string& am) {
    PageFrame frame;
    frame.productName = getProductName();
    frame.productWebsite = getProductWebsite();
    frame.css = plugin.css();
    frame.ownerName = API::ProfileManager::getPeerID().name;
    frame.shareName = shareName;
    frame.location = shareName + "/" + subPath;
    frame.tabBase = plugin.getShareURL() + encodeLinkPath(frame.location);
    frame.customHeader = plugin.database() ? plugin.database()->getConfigValue(
                                                 "CUSTOMHEADER", "ENABLED", "DEFAULT_IMAGE")
                                           : std::string("DEFAULT_IMAGE");
    frame.customLogo = CustomizationManager().hasCustomizationValue("DapplineLogo");
    frame.writeAccess = writeAccess;
    frame.am = am;
    frame.uploadURL = uploadAddress(folder, encodeQueryValue(frame.location), shareName, guestName);
    return frame;
}

std::string uploadAddress(const std::string& folder, const std::string& dirName,
                          const std::string& shareName, const std::string& guestName) {
    return std::string(IMAGE_BASE) +
           "/upload?appname=dapplinepro&expandzip=0&directory=" + encodeURIName(folder) +
           "&dirname=" + dirName + "&sharename=" + encodeQueryValue(shareName) + "&" +
           API::ProfileManager::generateURLAuth(guestName);
}

namespace {

// A folder this large has its entries looked at by two threads: the lstat
// of each entry is most of a big listing's time.
const std::size_t TWO_THREADS_FROM = 8192;

// The entries names[from, to) that the screen allows, in that order.
void screenEntries(const Util::FolderScreen& screen, int dirFd,
                   const std::vector<std::string>& names, std::size_t from, std::size_t to,
                   std::vector<FolderEntry>& out) {
    out.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) {
        struct stat st;
        bool isLink = false;
        // An entry removed or unreadable since the listing began is left out.
        if (!screen.allowsAt(dirFd, names[i], st, isLink))
            continue;
        FolderEntry entry;
        entry.name = names[i];
        entry.isDirectory = S_ISDIR(st.st_mode);
        if (!entry.isDirectory) {
            entry.size = static_cast<std::uint64_t>(st.st_size);
            entry.modified = Poco::Timestamp::fromEpochTime(st.st_mtime);
        }
        out.push_back(std::move(entry));
    }
}

struct DirCloser {
    DIR* dir;
    ~DirCloser() { ::closedir(dir); }
};

}  // namespace

std::vector<FolderEntry> allowedEntries(const std::string& folder) {
    const std::string path = Util::addEndingSeparator(folder);
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw Poco::FileNotFoundException(path);
        if (errno == EACCES || errno == EPERM)
            throw Poco::FileAccessDeniedException(path);
        throw Poco::FileException(path, errno);
    }
    const DirCloser closer{dir};
    std::vector<std::string> names;
    while (const struct dirent* item = ::readdir(dir)) {
        // Hidden entries are private on every drive: ".git", ".env" and the
        // like are never a visitor's to see.
        if (item->d_name[0] == '.' || item->d_name[0] == '\0')
            continue;
        // What the directory already says is no file or folder needs no lstat.
        if (item->d_type != DT_UNKNOWN && item->d_type != DT_REG && item->d_type != DT_DIR &&
            item->d_type != DT_LNK)
            continue;
        names.emplace_back(item->d_name);
    }
    // A link is listed only when it leads below the listed folder.
    const Util::FolderScreen screen(folder, folder);
    const int dirFd = ::dirfd(dir);
    std::vector<FolderEntry> entries;
    // Room for the helper's half too: growing would copy every entry.
    entries.reserve(names.size());
    std::vector<FolderEntry> second;
    const std::size_t half = names.size() / 2;
    std::thread helper;
    std::exception_ptr helperFailed;
    if (names.size() >= TWO_THREADS_FROM) {
        try {
            helper = std::thread([&] {
                try {
                    screenEntries(screen, dirFd, names, half, names.size(), second);
                } catch (...) {
                    helperFailed = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one does it all.
        }
    }
    try {
        screenEntries(screen, dirFd, names, 0, helper.joinable() ? half : names.size(), entries);
    } catch (...) {
        if (helper.joinable())
            helper.join();
        throw;
    }
    if (helper.joinable()) {
        helper.join();
        if (helperFailed)
            std::rethrow_exception(helperFailed);
        entries.reserve(entries.size() + second.size());
        std::move(second.begin(), second.end(), std::back_inserter(entries));
    }
    return entries;
}

FolderListing listFolder(const std::string& folder) {
    FolderListing listing;
    std::vector<FolderEntry> entries = allowedEntries(folder);
    // An entry's move may throw (its time's does not say it cannot), so a
    // growing vector would copy every name it holds each time it grows.
    listing.files.reserve(entries.size());
    for (FolderEntry& entry : entries) {
        if (entry.isDirectory) {
            listing.folders.insert(std::move(entry.name));
            continue;
        }
        if (isMusicExtension(extensionOf(entry.name)))
            listing.hasMusic = true;
        listing.files.push_back(std::move(entry));
    }
    return listing;
}

std::string metaElements(bool tabAfter) {
    return std::string(
               "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=8\" />\r\n"
               "<meta http-equiv=\"content-type\" content=\"text/html; "
               "charset=utf-8\" />") +
           (tabAfter ? "\t" : "\r\n\r\n");
}

std::string styleElement(const std::string& css) {
    return "<style type=\"text/css\">\r\n\r\n" + css + "</style>\r\n\r\n";
}

std::string uploadScriptElements() {
    std::string out;
    for (const char* src : {"/swfupload/swfupload.js", "/js/swfupload.queue.js",
                            "/js/fileprogress.js", "/js/handlers.js"}) {
        out += std::string("<script type=\"text/javascript\" src=\"") + IMAGE_BASE + src +
               "\"></script>";
    }
    return out;
}

std::string spinnerFunctions() {
    return "function hideSpinner() { document.getElementById('spinner').style.display = "
           "'none'; }\n"
           "function showSpinner() { document.getElementById('spinner').style.display = ''; "
           "}\n";
}

std::string uploadSettingsScript(const std::string& uploadURL) {
    return std::string("var swfu;") +
           "window.onload = function() { var settings = { flash_url : \"" + IMAGE_BASE +
           "/swfupload/swfupload.swf\", upload_url: \"" + escapeJSString(uploadURL) +
           "\", custom_settings : { progressTarget : \"fsUploadProgress\", cancelButtonId : "
           "\"btnCancel\" }, debug: false, button_image_url: \"" +
           IMAGE_BASE +
           "/images/TestImageNoText_65x29.png\", button_width: \"60\", button_height: \"29\", "
           "button_placeholder_id: \"spanButtonPlaceHolder\", "
           "button_text: '<span class=\"theFont\">Upload</span>', "
           "button_text_style: \".theFont { font-size: 14; }\", "
           "button_text_left_padding: 7, button_text_top_padding: 3, "
           "file_queued_handler : fileQueued, file_queue_error_handler : fileQueueError, "
           "file_dialog_complete_handler : fileDialogComplete, "
           "upload_start_handler : uploadStart, upload_progress_handler : uploadProgress, "
           "upload_error_handler : uploadError, upload_success_handler : uploadSuccess, "
           "upload_complete_handler : uploadComplete, queue_complete_handler : queueComplete "
           "}; swfu = new SWFUpload(settings); };\n";
}

std::string toggleLayerFunction() {
    // A layer without its own display value is as the style sheet shows it.
    return "function toggleLayer(whichLayer) { var elem = document.getElementById(whichLayer); "
           "if (!elem) return; var vis = elem.style; "
           "var shown = vis.display ? vis.display != 'none' : elem.offsetWidth > 0 || "
           "elem.offsetHeight > 0; "
           "vis.display = shown ? 'none' : 'block'; }\n";
}

std::string headerStart(const PageFrame& frame) {
    std::string out = std::string(
                          "<div id='spinner' style='position: absolute; top: 190px; "
                          "left:320px;z-index:20;'><img src='") +
                      IMAGE_BASE + "/small_loader.gif'/></img></div>" +
                      "<script type='text/javascript'> hideSpinner();</script>" +
                      "<div id=\"content_wrapper\"><div id=\"content\"><div id=\"header\">" +
                      logo(frame) + "<div id=\"header_text\"><ul>" +
                      "<li><div class='homeicon'><a href='/ui/guest/index.html' title='Home' "
                      "style='padding-top:5px'>Home</a></div></li>";
    if (frame.writeAccess)
        out += uploadItem(frame);
    return out;
}

std::string zipItem(bool spanForm) {
    const std::string tag = spanForm ? "span" : "div";
    return "<li><" + tag +
           " class='downloadzip'><a href='javascript:void(0)' onClick=\"window.open('" +
           IMAGE_BASE +
           "/status/status.html?zipit','statusWindow','width=400,height=200,toolbar=no,"
           "location=no,directories=no,status=no,menubar=no,scrollbars=no,copyhistory=yes,"
           "resizable=no');\" style='padding-top:5px'>" +
           escapeHTML(PoManager().getTranslation("Download Zip")) + "</a></" + tag + "></li>";
}

std::string tabBar(const PageFrame& frame, Tab active, bool withMusic) {
    const std::string base = escapeHTML(frame.tabBase);
    const std::string am = escapeHTML(frame.am);
    std::string out =
        withMusic ? "<div id=\"tab_navi\">" : "<div id=\"tab_navi\" style='width:226px'>";
    out += tabLink(active == Tab::Files ? "files_active" : "files", base, "list", am, "Files");
    out += tabLink(active == Tab::Gallery ? "gallery_active" : "gallery", base, "gallery", am,
                   "Gallery");
    if (withMusic) {
        if (active == Tab::Files) {
            out += "<a href='" + base + "?vm=music&am=" + am + "' id='music'>Music</a>";
        } else {
            out += tabLink(active == Tab::Music ? "music_active" : "music", base, "music", am,
                           "Music");
        }
    }
    return out + "</div>";
}

std::string footer(const PageFrame& frame, bool twoSpacesBeforeStyle) {
    return "<div class=\"footer\">\r\n<b>" + escapeHTML(frame.ownerName) + " used " +
           escapeHTML(frame.productName) + " to share this folder (and <a href=\"" +
           escapeHTML(frame.productWebsite) + "\"" + (twoSpacesBeforeStyle ? "  " : " ") +
           "style=\"color: gray; text-decoration: underline;\">you can too</a>). </b> "
           "&nbsp;<br/>" +
           Poco::DateTimeFormatter::format(Poco::LocalDateTime(),
                                           Poco::DateTimeFormat::HTTP_FORMAT) +
           ".</div>\r\n\r\n";
}

std::string forceAuthImage() {
    return std::string("<img src='") + IMAGE_BASE + "/force_auth.gif'/></img>";
}

std::string pageEnd(const PageFrame& frame) {
    std::string out = "</div\r\n\r\n>";
    if (frame.writeAccess)
        out += forceAuthImage();
    return out + "</body></html>";
}

}  // namespace Page
}  // namespace Dappline
}  // namespace Orvane
