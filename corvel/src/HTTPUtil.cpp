// HTTP-side helpers: result texts, content types and answer bodies.
#include "orvane/HTTPUtil.h"

#include <map>

#include "orvane/Defs.h"
#include "orvane/Exception.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Util {
namespace HTTP {
namespace {

typedef std::map<std::string, std::string> TypeMap;

void addAll(TypeMap& map, std::initializer_list<const char*> extensions, const char* type) {
    for (const char* ext : extensions)
        map[ext] = type;
}

TypeMap buildTypes() {
    TypeMap t;
    addAll(t, {"jpg", "jpeg", "jpe"}, "image/jpeg");
    addAll(t, {"png"}, "image/png");
    addAll(t, {"gif"}, "image/gif");
    addAll(t, {"bmp"}, "image/bmp");
    addAll(t, {"tif", "tiff"}, "image/tiff");
    addAll(t, {"webp"}, "image/webp");
    addAll(t, {"svg"}, "image/svg+xml");
    addAll(t, {"ico"}, "image/x-icon");
    addAll(t, {"heic"}, "image/heic");
    addAll(t, {"cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "dng",
               "orf", "rw2", "raf", "pef", "srw", "x3f", "kdc", "dcr", "mrw",
               "3fr", "erf", "mef", "mos", "raw", "rwl", "iiq"},
           "image/raw");
    addAll(t, {"mp3"}, "audio/mpeg");
    addAll(t, {"m4a"}, "audio/mp4");
    addAll(t, {"aac"}, "audio/aac");
    addAll(t, {"ogg", "oga"}, "audio/ogg");
    addAll(t, {"opus"}, "audio/opus");
    addAll(t, {"wav"}, "audio/wav");
    addAll(t, {"flac"}, "audio/flac");
    addAll(t, {"wma"}, "audio/x-ms-wma");
    addAll(t, {"aif", "aiff"}, "audio/aiff");
    addAll(t, {"mid", "midi"}, "audio/midi");
    addAll(t, {"mp4", "m4v"}, "video/mp4");
    addAll(t, {"mov"}, "video/quicktime");
    addAll(t, {"avi"}, "video/x-msvideo");
    addAll(t, {"mkv"}, "video/x-matroska");
    addAll(t, {"webm"}, "video/webm");
    addAll(t, {"mpg", "mpeg"}, "video/mpeg");
    addAll(t, {"wmv"}, "video/x-ms-wmv");
    addAll(t, {"3gp"}, "video/3gpp");
    addAll(t, {"ogv"}, "video/ogg");
    addAll(t, {"txt", "log"}, "text/plain");
    addAll(t, {"csv"}, "text/csv");
    addAll(t, {"html", "htm"}, "text/html");
    addAll(t, {"css"}, "text/css");
    addAll(t, {"js"}, "application/javascript");
    addAll(t, {"json"}, "application/json");
    addAll(t, {"xml"}, "application/xml");
    addAll(t, {"pdf"}, "application/pdf");
    addAll(t, {"rtf"}, "application/rtf");
    addAll(t, {"zip"}, "application/zip");
    addAll(t, {"gz", "tgz"}, "application/gzip");
    addAll(t, {"tar"}, "application/x-tar");
    addAll(t, {"7z"}, "application/x-7z-compressed");
    addAll(t, {"rar"}, "application/vnd.rar");
    addAll(t, {"doc"}, "application/msword");
    addAll(t, {"docx"}, "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    addAll(t, {"xls"}, "application/vnd.ms-excel");
    addAll(t, {"xlsx"}, "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
    addAll(t, {"ppt"}, "application/vnd.ms-powerpoint");
    addAll(t, {"pptx"},
           "application/vnd.openxmlformats-officedocument.presentationml.presentation");
    addAll(t, {"odt"}, "application/vnd.oasis.opendocument.text");
    addAll(t, {"ods"}, "application/vnd.oasis.opendocument.spreadsheet");
    addAll(t, {"odp"}, "application/vnd.oasis.opendocument.presentation");
    addAll(t, {"woff"}, "font/woff");
    addAll(t, {"woff2"}, "font/woff2");
    addAll(t, {"ttf"}, "font/ttf");
    addAll(t, {"otf"}, "font/otf");
    return t;
}

// The extension of the last path component, lower-cased; "" when it has none.
std::string extensionOf(const std::string& fileName) {
    const std::size_t slash = fileName.rfind('/');
    const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return "";
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

}  // namespace

std::string getXMLResult(const std::string& operation, bool success, const std::string& message) {
    return "<result><operation>" + xmlEscape(operation) + "</operation><success>" +
           (success ? "1" : "0") + "</success><message>" + xmlEscape(message) +
           "</message></result>";
}

std::string getHTTPContentType(const std::string& fileName) {
    static const TypeMap types = buildTypes();
    auto it = types.find(extensionOf(fileName));
    return it == types.end() ? "application/octet-stream" : it->second;
}

void loadRawData(boost::shared_ptr<Data::Message>& msg, const std::string& data,
                 const std::string& contentType) {
    if (!msg)
        throw Orvane::Exception("No message to put the data into");
    msg->setRawData(data);
    (*msg)[Defs::HTTP::MS_HTTP_RESP][Defs::HTTP::S_HTTP_RESP_TYPE] = contentType;
}

}  // namespace HTTP
}  // namespace Util
}  // namespace Orvane
