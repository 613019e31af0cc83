#include "webdav/WebDAVPropfind.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timestamp.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "http/TempFile.h"
#include "orvane/FolderScreen.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Util.h"
#include "webdav/WebDAVBodies.h"
#include "webdav/WebDAVLocking.h"
#include "webdav/WebDAVXml.h"
#include "webdav/store/WebDAVPropertyStore.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

const char* const ALL_LIVE[] = {"resourcetype",    "getcontentlength", "getcontenttype",
                                "getlastmodified", "creationdate",     "getetag",
                                "displayname",     "supportedlock",    "lockdiscovery"};
const char* const QUOTA[] = {"quota-used-bytes", "quota-available-bytes"};

typedef WebDAVBodies::Propfind Request;

std::string httpDate(std::int64_t seconds) {
    return Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(seconds),
                                           Poco::DateTimeFormat::HTTP_FORMAT);
}

std::string isoDate(std::int64_t seconds) {
    return Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(seconds),
                                           "%Y-%m-%dT%H:%M:%SZ");
}

std::string baseName(const std::string& path) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    return name;
}

std::string propstat(const std::string& props, int code) {
    return "<D:propstat><D:prop>" + props + "</D:prop><D:status>HTTP/1.1 " + std::to_string(code) +
           " " + HTTPResponse::getReasonForStatus(static_cast<HTTPResponse::HTTPStatus>(code)) +
           "</D:status></D:propstat>";
}

std::int64_t sizeBelow(const std::string& folder, std::set<std::pair<dev_t, ino_t>>& seen) {
    std::int64_t total = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    while (struct dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;  // hidden, and "." and ".."
        const std::string path = folder + "/" + entry->d_name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode))
            total += st.st_size;
        else if (S_ISDIR(st.st_mode) && seen.insert({st.st_dev, st.st_ino}).second)
            total += sizeBelow(path, seen);
    }
    ::closedir(dir);
    return total;
}

bool isLive(const PropName& prop) {
    if (prop.ns != WebDAVXml::DAV)
        return false;
    for (const char* name : ALL_LIVE) {
        if (prop.name == name)
            return true;
    }
    return prop.name == QUOTA[0] || prop.name == QUOTA[1];
}

// Bytes of the regular, non-hidden files below `folder`, counting each
// folder once even when links lead back into the tree.
std::int64_t usedBytes(const std::string& folder) {
    std::set<std::pair<dev_t, ino_t>> seen;
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        seen.insert({st.st_dev, st.st_ino});
    return sizeBelow(folder, seen);
}

// The live property's content; false when this resource has none.
bool live(WebDAVExchange& x, const PropName& prop, const std::string& path,
          const WebDAVFileInfo& info, std::string& value) {
    if (prop.ns != WebDAVXml::DAV)
        return false;
    const std::string& n = prop.name;
    value.clear();
    if (n == "resourcetype") {
        value = info.folder ? "<D:collection/>" : "";
    } else if (n == "getcontentlength" || n == "getcontenttype") {
        if (info.folder)
            return false;
        value = n == "getcontentlength"
                    ? std::to_string(info.size)
                    : WebDAVXml::escape(Util::HTTP::getHTTPContentType(baseName(path)));
    } else if (n == "getlastmodified") {
        value = httpDate(info.mtimeNs / 1000000000LL);
    } else if (n == "creationdate") {
        value = isoDate(std::min<std::int64_t>(info.ctimeSeconds, info.mtimeNs / 1000000000LL));
    } else if (n == "getetag") {
        value = WebDAVXml::escape(info.etag());
    } else if (n == "displayname") {
        value = WebDAVXml::escape(x.target.isShareRoot(path) ? x.target.shareName : baseName(path));
    } else if (n == "supportedlock") {
        value = WebDAVLocking::supportedLock();
    } else if (n == "lockdiscovery") {
        value = WebDAVLocking::lockDiscovery(WebDAVLocks::instance().covering(path));
    } else if (n == QUOTA[0] || n == QUOTA[1]) {
        if (x.target.sizeLimit <= 0)
            return false;
        const std::int64_t used = usedBytes(x.target.shareRoot);
        value = std::to_string(
            n == QUOTA[0] ? used : std::max<std::int64_t>(0, x.target.sizeLimit - used));
    } else {
        return false;
    }
    return true;
}

std::string response(WebDAVExchange& x, const std::string& path, const WebDAVFileInfo& info,
                     const Request& req) {
    const WebDAVPropertyStore::Properties dead = WebDAVPropertyStore::instance().list(path);
    std::string found, missing;
    std::vector<PropName> names = req.names;
    if (req.mode != Request::NAMED) {
        for (const char* n : ALL_LIVE)
            names.push_back(PropName{WebDAVXml::DAV, n});
        for (const auto& d : dead)
            names.push_back(d.first);
    }
    std::set<PropName> done;
    for (const PropName& prop : names) {
        if (!done.insert(prop).second)
            continue;
        std::string value;
        const auto d = dead.find(prop);
        const bool has = live(x, prop, path, info, value) || d != dead.end();
        if (has && d != dead.end() && !isLive(prop))
            value = d->second;
        if (!has)
            missing += WebDAVXml::element(prop, "");
        else
            found += WebDAVXml::element(prop, req.mode == Request::PROPNAME ? "" : value);
    }
    std::string xml =
        "<D:response><D:href>" +
        WebDAVXml::escape(WebDAVXml::encodePath(x.target.clientPath(path, info.folder))) +
        "</D:href>";
    if (!found.empty())
        xml += propstat(found, 200);
    if (!missing.empty() && req.mode == Request::NAMED)
        xml += propstat(missing, 404);
    return xml + "</D:response>";
}

// Hidden members only for a visitor who may write (the "._" files that
// clients such as the Finder keep); never the profile or a system folder,
// which a share holding them must not show either.
std::vector<std::pair<std::string, WebDAVFileInfo>> members(const std::string& folder,
                                                            bool withHidden) {
    std::vector<std::pair<std::string, WebDAVFileInfo>> out;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return out;
    // A link is a member only when it leads below the folder; one that
    // leads out of the share would be refused when asked for anyway.
    const Util::FolderScreen screen(folder, folder);
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || TempFile::isTempName(name) ||
            (name[0] == '.' && !withHidden))
            continue;
        const std::string path = folder + "/" + name;
        struct stat st;
        bool isLink = false;
        if (!screen.allows(name, st, isLink))
            continue;
        const WebDAVFileInfo info = WebDAVFileInfo::of(path);
        if (info.exists)
            out.push_back({path, info});
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

// Reads the body with `parse`, then the facts of the target, which must
// exist; false once answered (400 or 413 for the body, 404).
bool bodyAndTarget(WebDAVExchange& x, const std::function<void()>& parse, WebDAVFileInfo& info) {
    if (!x.parseBody([&] {
            parse();
            return true;
        }))
        return false;
    info = WebDAVFileInfo::of(x.target.path);
    if (!info.exists) {
        x.status(HTTPResponse::HTTP_NOT_FOUND);
        return false;
    }
    return true;
}

void propfind(WebDAVExchange& x) {
    const int depth = x.depth(-1);
    if (depth == -1) {
        x.error(HTTPResponse::HTTP_FORBIDDEN, "propfind-finite-depth");
        return;
    }
    if (depth < 0) {
        x.status(HTTPResponse::HTTP_BAD_REQUEST);
        return;
    }
    Request req;
    WebDAVFileInfo info;
    if (!bodyAndTarget(
            x, [&] { req = WebDAVBodies::propfind(x.hasBody() ? x.body() : std::string()); }, info))
        return;
    std::string xml = std::string(WebDAVXml::HEAD) + "<D:multistatus xmlns:D=\"DAV:\">";
    xml += response(x, x.target.path, info, req);
    if (depth == 1 && info.folder) {
        for (const auto& member : members(x.target.path, x.target.isWriter()))
            xml += response(x, member.first, member.second, req);
    }
    x.xml(207, xml + "</D:multistatus>");
}

void proppatch(WebDAVExchange& x) {
    if (!x.mayWrite())
        return;
    std::vector<WebDAVPropertyStore::Change> changes;
    WebDAVFileInfo info;
    if (!bodyAndTarget(
            x, [&] { changes = WebDAVBodies::propertyUpdate(x.body()); }, info))
        return;
    if (!x.ifHolds() || !x.ownsLocks(WebDAVLocks::instance().covering(x.target.path)))
        return;
    bool protectedProp = false;
    for (const auto& c : changes)
        protectedProp = protectedProp || isLive(c.prop);
    std::string ok, failed, dependent;
    for (const auto& c : changes) {
        const std::string e = WebDAVXml::element(c.prop, "");
        (isLive(c.prop) ? failed : (protectedProp ? dependent : ok)) += e;
    }
    if (!protectedProp)
        WebDAVPropertyStore::instance().apply(x.target.path, changes);
    std::string xml =
        std::string(WebDAVXml::HEAD) + "<D:multistatus xmlns:D=\"DAV:\"><D:response>" + "<D:href>" +
        WebDAVXml::escape(WebDAVXml::encodePath(x.target.clientPath(x.target.path, info.folder))) +
        "</D:href>";
    if (!ok.empty())
        xml += propstat(ok, 200);
    if (!failed.empty())
        xml += propstat(failed, 403);
    if (!dependent.empty())
        xml += propstat(dependent, 424);
    x.xml(207, xml + "</D:response></D:multistatus>");
}

}  // namespace

WebDAVMethods WebDAVPropfind::methods() {
    return {{"PROPFIND", propfind}, {"PROPPATCH", proppatch}};
}

}  // namespace Host
}  // namespace Orvane
