#include "core/Dappline.h"

#include <Poco/DateTime.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeParser.h>
#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/Timestamp.h>
#include <Poco/URI.h>

#include "orvane/Defs.h"
#include "orvane/ShortURLManager.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Dappline {
namespace {

const char* const SHARE_PAGE_PATH = "/app/dapplinepro/share/";
const char* const RELATIVE_SHARE_PAGE_PATH = "../../app/dapplinepro/share/";
const char* const PUBLIC_GRID_PATH = "/ui/core/index.html?mode=public#expl-grid.";
const char* const PUBLIC_TABLE_PATH = "/ui/core/index.html?mode=public#expl-tabl.";

// EncodeString passes bytes that are not UTF-8 through, and one such file
// or folder name would spoil the whole answer for an XML parser.
std::string escape(const std::string& text) {
    return Util::xmlEscape(text);
}

std::string urlEncode(const std::string& text, const std::string& reserved = "") {
    std::string out;
    Poco::URI::encode(text, reserved, out);
    return out;
}

std::string element(const std::string& name, const std::string& text) {
    return "<" + name + ">" + text + "</" + name + ">";
}

// False when the location is gone or cannot be examined.
bool locationExists(const std::string& location, bool& isDir) {
    try {
        Poco::File file(location);
        if (!file.exists())
            return false;
        isDir = file.isDirectory();
        return true;
    } catch (...) {
        return false;
    }
}

std::string extensionOf(const std::string& fileName) {
    const std::string::size_type dot = fileName.rfind('.');
    if (dot == std::string::npos || dot + 1 == fileName.size())
        return "n/a";
    return escape(fileName.substr(dot + 1));
}

}  // namespace

Dappline::Dappline(const std::string& name, const std::string& location,
                   const std::string& viewMode, const std::string& validityPeriod,
                   std::int64_t sizeLimit, int viewSize, int thumbSize, int allowPublicAccess)
    : shareName(name),
      shareLocation(location),
      viewMode(viewMode),
      validityPeriod(validityPeriod),
      shareSizeLimit(sizeLimit),
      viewSize(viewSize),
      thumbSize(thumbSize),
      allowPublicAccess(allowPublicAccess) {}

Dappline::Dappline(int id, const std::string& name, const std::string& location,
                   const std::string& viewMode, const std::string& validityPeriod,
                   std::int64_t sizeLimit, int viewSize, int thumbSize, int allowPublicAccess)
    : Dappline(name, location, viewMode, validityPeriod, sizeLimit, viewSize, thumbSize,
               allowPublicAccess) {
    shareId = id;
}

std::string Dappline::toXML(bool relativeOldUrl) const {
    std::string xml = "<share>" + element("shareid", std::to_string(shareId)) +
                      element("sharename", escape(shareName));
    bool isDir = false;
    if (locationExists(shareLocation, isDir))
        xml += std::string("<isvalid>1</isvalid><isdir>") + (isDir ? "1" : "0") + "</isdir>";
    else
        xml += "<isvalid>0</isvalid>";
    const std::string oldUrl = (relativeOldUrl ? std::string(RELATIVE_SHARE_PAGE_PATH)
                                               : Util::getPublicBaseURL() + SHARE_PAGE_PATH) +
                               escape(shareName) + "/";
    // View mode, validity and link are plain for every value the owner's
    // screens set; escaping keeps the answer well-formed for any other.
    xml += element("sharelocation", escape(shareLocation)) + element("viewmode", escape(viewMode)) +
           element("validityperiod", escape(validityPeriod)) +
           element("shareurl", escape(getURL(false))) + element("oldshareurl", urlEncode(oldUrl)) +
           element("allowpublicaccess", std::to_string(allowPublicAccess)) +
           element("sharesizelimit", std::to_string(shareSizeLimit)) +
           element("viewsize", std::to_string(viewSize)) +
           element("thumbsize", std::to_string(thumbSize)) +
           element("allowedit", allowEdit ? "1" : "0") +
           element("allowdelete", allowDelete ? "1" : "0");
    return xml + "</share>";
}

std::string Dappline::getURL(bool codeOnly) const {
    try {
        bool isDir = false;
        if (!locationExists(shareLocation, isDir))
            return "";
        std::string longPath;
        if (isDir) {
            if (allowPublicAccess == 0)
                return urlEncode(Util::getPublicBaseURL() + "#guest");
            longPath = std::string(viewMode == "GALLERY" ? PUBLIC_GRID_PATH : PUBLIC_TABLE_PATH) +
                       urlEncode(shareLocation, Defs::HTTP::URL_SPECIAL_CHARS);
        } else {
            longPath = SHARE_PAGE_PATH + shareName + "/";
        }
        std::string code;
        if (!Orvane::ShortURLManager().addShortURL(longPath, code))
            return "";
        if (codeOnly)
            return code;
        return urlEncode(Util::getPublicBaseURL() + "/url" + code);
    } catch (...) {
        return "";
    }
}

std::string Dappline::toDirListXML() const {
    bool isDir = false;
    if (!locationExists(shareLocation, isDir))
        return "";
    const std::string location = escape(shareLocation);
    return "<directory>" + element("name", escape(shareName)) + element("path", location) +
           element("dirpath", location) + "<isroot>1</isroot>" +
           (allowEdit ? "<writable>1</writable>" : "") + "</directory>";
}

std::string Dappline::toFileListXML() const {
    try {
        bool isDir = false;
        if (!locationExists(shareLocation, isDir))
            return "";
        Poco::File file(shareLocation);
        const std::string location = escape(shareLocation);
        std::string xml = "<entry>" + element("path", location) +
                          element("fullfilename", location) + element("dirpath", location);
        if (isDir) {
            xml += "<type>dir</type><ext>n/a</ext>" + element("name", escape(shareName));
        } else {
            const std::string fileName = Poco::Path(shareLocation).getFileName();
            const std::int64_t size = static_cast<std::int64_t>(file.getSize());
            xml += "<type>file</type>" + element("name", escape(fileName)) +
                   element("ext", extensionOf(fileName)) +
                   element("size", Util::readableFileSize(size, 2)) +
                   element("fullsize", std::to_string(size));
        }
        xml += element("modified", Util::localNiceTimeStrFromUTCTime(file.getLastModified())) +
               "<isroot>1</isroot><canrename>0</canrename><isshareable>0</isshareable>" +
               (allowEdit ? "<writable>1</writable>" : "") + "</entry>";
        return xml;
    } catch (...) {
        // Gone between the test and the reads.
        return "";
    }
}

bool Dappline::isExpired() const {
    if (validityPeriod.empty())
        return false;
    Poco::DateTime until;
    int tzd = 0;
    // A validity text that cannot be read closes the share rather than
    // leaving it open for ever.
    if (!Poco::DateTimeParser::tryParse(Poco::DateTimeFormat::SORTABLE_FORMAT, validityPeriod,
                                        until, tzd))
        return true;
    return until.timestamp() < Poco::Timestamp();
}

}  // namespace Dappline
}  // namespace Orvane
