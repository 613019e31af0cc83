#include "services/UserManagerService.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/String.h>

#include <exception>
#include <set>

#include "orvane/CacheDB.h"
#include "orvane/Defs.h"
#include "orvane/Exception.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Image.h"
#include "orvane/Util.h"
#include "services/BusRequest.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {

// The explorer's sizes are the defaults, whose cache keys are the file name
// alone, so its pictures and the share galleries' share entries.
const int THUMB_SIDE = 128;
const int SLIDE_WIDTH = 800;
const int SLIDE_HEIGHT = 600;
const char* const PICTURE_CACHE_CONTROL = "max-age=1800";
const char* const TEXT_PLAIN = "text/plain; charset=utf-8";
const char* const TEXT_XML = "text/xml; charset=utf-8";

Poco::Logger& log() {
    return Poco::Logger::get("UserManager");
}

// Answers the request itself, with a status and a fixed text.
class Refusal : public std::runtime_error {
public:
    Refusal(int status, const std::string& text) : std::runtime_error(text), status(status) {}
    int status;
};

std::string queryValue(const Data::Message& msg, const std::string& name) {
    const Data::VariantRow* row = msg.findSection(HTTP::MS_HTTP_REQ);
    const std::string query = row ? row->getString(HTTP::S_HTTP_REQ_REQUEST) : "";
    Poco::Net::HTMLForm form;
    form.load(Poco::Net::HTTPRequest(Poco::Net::HTTPRequest::HTTP_GET, "/form?" + query));
    return form.get(name, "");
}

bool hasParentStep(const std::string& path) {
    return ("/" + path + "/").find("/../") != std::string::npos;
}

// The named path in native form, when it may be shown at all; the plug-in
// checked it against its shares as text, so nothing may climb out of it.
std::string allowedPath(const std::string& text) {
    const std::string path = Util::convertPathToNative(text);
    if (path.empty() || path[0] != '/' || hasParentStep(path) ||
        !Util::isAllowedPath(path, false, true) || !Util::isAllowedFile(path))
        throw Refusal(404, "Not Found");
    return path;
}

std::string allowedFile(const std::string& text) {
    const std::string path = allowedPath(text);
    if (!Poco::File(path).isFile())
        throw Refusal(404, "Not Found");
    return path;
}

bool isPicture(const std::string& name) {
    const std::string type = Util::HTTP::getHTTPContentType(name);
    return type.compare(0, 6, "image/") == 0 && type != "image/svg+xml";
}

std::string stampOf(const std::string& path) {
    return Poco::DateTimeFormatter::format(Poco::File(path).getLastModified(),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::string render(const std::string& path, int width, int height) {
    try {
        Data::Image image(path, 0);
        std::string data;
        image.resizeImage(width, height);
        image.saveToRawData(0, data);
        return data;
    } catch (const Orvane::Exception& e) {
        log().information(e.message());
        throw Refusal(415, "Unsupported Media Type");
    }
}

std::string cachedPicture(const std::string& path, bool slide) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    boost::shared_ptr<System::OrvaneCacheDB> db = System::LocalCacheDBHolder::GetCacheDB(folder);
    if (!db)
        throw Refusal(404, "Not Found");
    const std::string stamp = stampOf(path);
    std::string data;
    if (slide ? db->isSlidePresent(name, stamp) && db->getSlideImage(name, data)
              : db->isThumbPresent(name, stamp) && db->getThumbImage(name, data))
        return data;
    data = slide ? render(path, SLIDE_WIDTH, SLIDE_HEIGHT) : render(path, THUMB_SIDE, THUMB_SIDE);
    try {
        slide ? db->deleteSlideImage(name) : db->deleteThumbImage(name);
        slide ? db->addSlideImage(name, data, stamp) : db->addThumbImage(name, data, stamp);
    } catch (const Orvane::Exception& e) {
        log().error("Could not store a picture in the image cache: " + e.message());
    }
    return data;
}

// "folder.jpg" when the folder has one, else its first picture by name.
std::string folderPicture(const std::string& folder) {
    std::set<std::string> pictures;
    for (Poco::DirectoryIterator it(folder), end; it != end; ++it) {
        const std::string& name = it.name();
        try {
            if (name.empty() || name[0] == '.' || !it->isFile() || !isPicture(name))
                continue;
        } catch (const Poco::Exception&) {
            continue;
        }
        if (Poco::icompare(name, "folder.jpg") == 0)
            return it.path().toString();
        pictures.insert(name);
    }
    if (pictures.empty())
        throw Refusal(404, "Not Found");
    return folder + "/" + *pictures.begin();
}

std::string element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + Util::xmlEscape(value) + "</" + name + ">";
}

// What the host can tell without decoding: name, type, size, time and, for
// pictures whose header it can read, the size as shown.
std::string factsXML(const std::string& path) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    Poco::File file(path);
    const std::string type = Util::HTTP::getHTTPContentType(name);
    std::string xml = element("name", name) + element("type", type) +
                      element("size", std::to_string(file.getSize())) +
                      element("modified", stampOf(path));
    if (isPicture(name)) {
        try {
            Data::Image image(path, 0);
            xml += element("width", std::to_string(image.width())) +
                   element("height", std::to_string(image.height()));
        } catch (const Orvane::Exception&) {
            // A picture the host cannot read has no known dimensions.
        }
    }
    return xml;
}

bool browserPlays(const std::string& type) {
    return type == "video/mp4" || type == "video/webm" || type == "video/ogg";
}

}  // namespace

UserManagerService::UserManagerService() : m_registration(Service::BOOTUSERMANAGER) {
    m_operations["getfsthumbimage"] = [this](MessagePtr& msg) { answerThumbnail(msg); };
    m_operations["getfsslideimage"] = [this](MessagePtr& msg) { answerSlide(msg); };
    m_operations["getfolder.jpg"] = [this](MessagePtr& msg) { answerFolderPicture(msg); };
    m_operations["getvideocaps"] = [this](MessagePtr& msg) { answerVideoCaps(msg); };
    m_operations["getmetadatainfo"] = [this](MessagePtr& msg) { answerMetaData(msg); };
    m_operations["downloadfile"] = [this](MessagePtr& msg) { answerDownload(msg); };
}

void UserManagerService::addOperation(const std::string& operation, const Handler& handler) {
    m_operations[operation] = handler;
}

void UserManagerService::start() {
    m_registration.start([this](MessagePtr& msg) { onMessage(msg); });
}

void UserManagerService::stop() {
    m_registration.stop();
}

void UserManagerService::answer(const MessagePtr& request, int status,
                                const std::string& contentType, const std::string& body,
                                const std::string& cacheControl) {
    MessagePtr reply = BusRequest::reply(*request, Service::BOOTUSERMANAGER, status, contentType);
    reply->setRawData(body);
    if (!cacheControl.empty())
        (*reply)[HTTP::MS_HTTP_RESP][HTTP::S_HTTP_SET_CACHE_CONTROL] = cacheControl;
    Orvane::Dispatcher()->postMessage(reply);
}

void UserManagerService::onMessage(MessagePtr& msg) {
    if (!msg)
        return;
    auto operation = m_operations.find(msg->operation);
    try {
        if (operation == m_operations.end())
            throw Refusal(404, "Not Found");
        if (!BusRequest::isAllowed(*msg))
            throw Refusal(403, "Forbidden");
        operation->second(msg);
    } catch (const Refusal& refusal) {
        answer(msg, refusal.status, TEXT_PLAIN, refusal.what());
    } catch (const Poco::Exception& e) {
        log().error(msg->operation + ": " + e.displayText());
        answer(msg, 500, TEXT_PLAIN, "Internal Server Error");
    } catch (const std::exception& e) {
        log().error(msg->operation + ": " + e.what());
        answer(msg, 500, TEXT_PLAIN, "Internal Server Error");
    }
}

void UserManagerService::answerThumbnail(MessagePtr& msg) {
    answerPicture(msg, allowedFile(queryValue(*msg, "name")), false);
}

void UserManagerService::answerSlide(MessagePtr& msg) {
    answerPicture(msg, allowedFile(queryValue(*msg, "name")), true);
}

void UserManagerService::answerFolderPicture(MessagePtr& msg) {
    const std::string folder = allowedPath(queryValue(*msg, "path"));
    if (!Poco::File(folder).isDirectory())
        throw Refusal(404, "Not Found");
    answerPicture(msg, folderPicture(folder), false);
}

void UserManagerService::answerPicture(MessagePtr& msg, const std::string& path, bool slide) {
    if (!isPicture(path))
        throw Refusal(415, "Unsupported Media Type");
    answer(msg, 200, "image/jpeg", cachedPicture(path, slide), PICTURE_CACHE_CONTROL);
}

void UserManagerService::answerVideoCaps(MessagePtr& msg) {
    const std::string path = allowedFile(queryValue(*msg, "name"));
    const std::string type = Util::HTTP::getHTTPContentType(path);
    answer(msg, 200, TEXT_XML,
           "<videocaps>" + factsXML(path) +
               element("playable", browserPlays(type) ? Defaults::TRUEVAL : Defaults::FALSEVAL) +
               "</videocaps>");
}

void UserManagerService::answerMetaData(MessagePtr& msg) {
    const std::string path = allowedFile(queryValue(*msg, "name"));
    answer(msg, 200, TEXT_XML, "<metadatainfo>" + factsXML(path) + "</metadatainfo>");
}

// The front streams the file (ranges, HEAD, validators) and rebuilds the
// disposition with a safe name; nobody keeps a record of the transfer, so
// no completion service is named.
void UserManagerService::answerDownload(MessagePtr& msg) {
    const std::string path = allowedFile(queryValue(*msg, "filepath"));
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    const std::string type = Util::HTTP::getHTTPContentType(name);
    MessagePtr reply = BusRequest::reply(*msg, Service::BOOTUSERMANAGER, 200, type);
    Data::VariantRow& resp = (*reply)[HTTP::MS_HTTP_RESP];
    resp[HTTP::S_HTTP_SEND_FILE] = path;
    resp[HTTP::S_HTTP_CONTENT_DISPOSITION] = "attachment; filename=\"" + name + "\"";
    Orvane::Dispatcher()->postMessage(reply);
}

}  // namespace Host
}  // namespace Orvane
