#include "webdav/WebDAVPropfind.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/Timestamp.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "http/TempFile.h"
#include "orvane/FolderScreen.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
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

// Poco's HTTP and ISO formats of a UTC time, written by hand for the years
// 1970 to 9999: a folder's answer holds two dates per member.
bool civilTime(std::int64_t seconds, int& year, unsigned& month, unsigned& day, unsigned& weekday,
               unsigned& secondOfDay) {
    if (seconds < 0 || seconds > 253402300799LL)
        return false;
    const std::int64_t days = seconds / 86400;
    secondOfDay = static_cast<unsigned>(seconds % 86400);
    weekday = static_cast<unsigned>((days + 4) % 7);  // 1970-01-01 was a Thursday
    const std::int64_t z = days + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    return true;
}

void appendDigits(std::string& out, unsigned value, int width) {
    char buf[8];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(buf, static_cast<std::size_t>(width));
}

void appendClock(std::string& out, unsigned secondOfDay) {
    appendDigits(out, secondOfDay / 3600, 2);
    out += ':';
    appendDigits(out, secondOfDay / 60 % 60, 2);
    out += ':';
    appendDigits(out, secondOfDay % 60, 2);
}

std::string httpDate(std::int64_t seconds) {
    static const char* const WEEKDAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int year = 0;
    unsigned month = 0, day = 0, weekday = 0, secondOfDay = 0;
    if (!civilTime(seconds, year, month, day, weekday, secondOfDay)) {
        return Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(seconds),
                                               Poco::DateTimeFormat::HTTP_FORMAT);
    }
    std::string out;
    out.reserve(29);
    out += WEEKDAYS[weekday];
    out += ", ";
    appendDigits(out, day, 2);
    out += ' ';
    out += MONTHS[month - 1];
    out += ' ';
    appendDigits(out, static_cast<unsigned>(year), 4);
    out += ' ';
    appendClock(out, secondOfDay);
    out += " GMT";
    return out;
}

std::string isoDate(std::int64_t seconds) {
    int year = 0;
    unsigned month = 0, day = 0, weekday = 0, secondOfDay = 0;
    if (!civilTime(seconds, year, month, day, weekday, secondOfDay)) {
        return Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(seconds),
                                               "%Y-%m-%dT%H:%M:%SZ");
    }
    std::string out;
    out.reserve(20);
    appendDigits(out, static_cast<unsigned>(year), 4);
    out += '-';
    appendDigits(out, month, 2);
    out += '-';
    appendDigits(out, day, 2);
    out += 'T';
    appendClock(out, secondOfDay);
    out += 'Z';
    return out;
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

void appendPropstat(std::string& out, const std::string& props, int code) {
    out += "<D:propstat><D:prop>";
    out += props;
    out += "</D:prop><D:status>HTTP/1.1 ";
    out += std::to_string(code);
    out += ' ';
    out += HTTPResponse::getReasonForStatus(static_cast<HTTPResponse::HTTPStatus>(code));
    out += "</D:status></D:propstat>";
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
std::int64_t walkedBytes(const std::string& folder) {
    std::set<std::pair<dev_t, ino_t>> seen;
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        seen.insert({st.st_dev, st.st_ino});
    return sizeBelow(folder, seen);
}

// The live properties by kind, so that a folder's answer names each
// property once per request, not once per member.
enum class Live {
    None,
    ResourceType,
    ContentLength,
    ContentType,
    LastModified,
    CreationDate,
    ETag,
    DisplayName,
    SupportedLock,
    LockDiscovery,
    QuotaUsed,
    QuotaAvailable
};

Live kindOf(const PropName& prop) {
    if (prop.ns != WebDAVXml::DAV)
        return Live::None;
    static const std::map<std::string, Live> kinds = {
        {"resourcetype", Live::ResourceType},   {"getcontentlength", Live::ContentLength},
        {"getcontenttype", Live::ContentType},  {"getlastmodified", Live::LastModified},
        {"creationdate", Live::CreationDate},   {"getetag", Live::ETag},
        {"displayname", Live::DisplayName},     {"supportedlock", Live::SupportedLock},
        {"lockdiscovery", Live::LockDiscovery}, {QUOTA[0], Live::QuotaUsed},
        {QUOTA[1], Live::QuotaAvailable}};
    const auto found = kinds.find(prop.name);
    return found == kinds.end() ? Live::None : found->second;
}

// What one PROPFIND answers alike for every resource: the names asked for
// (without repeats), the locks near the folder, and the share's used
// bytes, found once if asked.
struct Answer {
    Answer(WebDAVExchange& exchange, const Request& request) : x(exchange), req(request) {
        std::vector<PropName> all = req.names;
        if (req.mode != Request::NAMED) {
            for (const char* n : ALL_LIVE)
                all.push_back(PropName{WebDAVXml::DAV, n});
        }
        for (const PropName& prop : all) {
            if (seen.insert(prop).second)
                names.push_back({prop, kindOf(prop)});
        }
        // Every lock that can cover the target or one of its members: on
        // the target or above it, or below it. In the table's order.
        std::map<std::string, WebDAVLock> near;
        for (const WebDAVLock& lock : WebDAVLocks::instance().covering(x.target.path))
            near[lock.token] = lock;
        for (const WebDAVLock& lock : WebDAVLocks::instance().within(x.target.path))
            near[lock.token] = lock;
        for (const auto& lock : near)
            locks.push_back(lock.second);
    }

    // What the share holds: the host's own accounting of the share, which
    // each write keeps current, rather than a walk of the whole share for
    // every PROPFIND; a walk only when that accounting cannot read the
    // folder.
    std::int64_t usedBytes() {
        if (used < 0) {
            try {
                used = Storage::ShareSpace::instance().used(x.target.shareRoot);
            } catch (const Poco::Exception&) {
                used = walkedBytes(x.target.shareRoot);
            }
        }
        return used;
    }

    std::vector<WebDAVLock> covering(const std::string& path) const {
        std::vector<WebDAVLock> out;
        for (const WebDAVLock& lock : locks) {
            if (lock.covers(path))
                out.push_back(lock);
        }
        return out;
    }

    WebDAVExchange& x;
    const Request& req;
    std::vector<std::pair<PropName, Live>> names;
    std::set<PropName> seen;
    std::vector<WebDAVLock> locks;
    std::int64_t used = -1;
    // Reused by every response: their room is allocated once.
    std::string found, missing, value;
};

// The live property's content; false when this resource has none.
bool live(Answer& a, Live kind, const std::string& path, const std::string& name,
          const WebDAVFileInfo& info, std::string& value) {
    value.clear();
    switch (kind) {
        case Live::None:
            return false;
        case Live::ResourceType:
            if (info.folder)
                value = "<D:collection/>";
            return true;
        case Live::ContentLength:
            if (info.folder)
                return false;
            value = std::to_string(info.size);
            return true;
        case Live::ContentType:
            if (info.folder)
                return false;
            value = WebDAVXml::escape(Util::HTTP::getHTTPContentType(name));
            return true;
        case Live::LastModified:
            value = httpDate(info.mtimeNs / 1000000000LL);
            return true;
        case Live::CreationDate:
            value = isoDate(std::min<std::int64_t>(info.ctimeSeconds, info.mtimeNs / 1000000000LL));
            return true;
        case Live::ETag:
            value = WebDAVXml::escape(info.etag());
            return true;
        case Live::DisplayName:
            value = WebDAVXml::escape(a.x.target.isShareRoot(path) ? a.x.target.shareName : name);
            return true;
        case Live::SupportedLock:
            value = WebDAVLocking::supportedLock();
            return true;
        case Live::LockDiscovery:
            if (!a.locks.empty())
                value = WebDAVLocking::lockDiscovery(a.covering(path));
            return true;
        case Live::QuotaUsed:
        case Live::QuotaAvailable: {
            if (a.x.target.sizeLimit <= 0)
                return false;
            const std::int64_t used = a.usedBytes();
            value = std::to_string(kind == Live::QuotaUsed
                                       ? used
                                       : std::max<std::int64_t>(0, a.x.target.sizeLimit - used));
            return true;
        }
    }
    return false;
}

// One resource's <D:response>, appended to `xml`. `name` is the last part
// of `path`, `href` its client path, encoded and escaped.
void appendResponse(std::string& xml, Answer& a, const std::string& path, const std::string& name,
                    const std::string& href, const WebDAVFileInfo& info,
                    const WebDAVPropertyStore::Properties& dead) {
    std::string& found = a.found;
    std::string& missing = a.missing;
    std::string& value = a.value;
    found.clear();
    missing.clear();
    auto one = [&](const PropName& prop, Live kind) {
        const auto d = dead.empty() ? dead.end() : dead.find(prop);
        const bool has = live(a, kind, path, name, info, value) || d != dead.end();
        if (has && d != dead.end() && kind == Live::None)
            value = d->second;
        if (!has)
            WebDAVXml::appendElement(missing, prop, std::string());
        else if (a.req.mode == Request::PROPNAME)
            WebDAVXml::appendElement(found, prop, std::string());
        else
            WebDAVXml::appendElement(found, prop, value);
    };
    for (const auto& prop : a.names)
        one(prop.first, prop.second);
    if (a.req.mode != Request::NAMED) {
        for (const auto& d : dead) {
            if (!a.seen.count(d.first))
                one(d.first, kindOf(d.first));
        }
    }
    xml += "<D:response><D:href>";
    xml += href;
    xml += "</D:href>";
    if (!found.empty())
        appendPropstat(xml, found, 200);
    if (!missing.empty() && a.req.mode == Request::NAMED)
        appendPropstat(xml, missing, 404);
    xml += "</D:response>";
}

std::string hrefOf(const WebDAVTarget& target, const std::string& path, bool folder) {
    return WebDAVXml::escape(WebDAVXml::encodePath(target.clientPath(path, folder)));
}

struct Member {
    std::string name;
    std::string path;
    WebDAVFileInfo info;
};

// Hidden members only for a visitor who may write (the "._" files that
// clients such as the Finder keep); never the profile or a system folder,
// which a share holding them must not show either. One pass over the
// directory, one lstat per member (a link's target is stat'ed too).
std::vector<Member> members(const std::string& folder, bool withHidden) {
    std::vector<Member> out;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return out;
    // A link is a member only when it leads below the folder; one that
    // leads out of the share would be refused when asked for anyway.
    const Util::FolderScreen screen(folder, folder);
    std::string name;
    while (struct dirent* entry = ::readdir(dir)) {
        name = entry->d_name;
        if (name == "." || name == ".." || TempFile::isTempName(name) ||
            (name[0] == '.' && !withHidden))
            continue;
        // What the directory already says is no file or folder needs no lstat.
        if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_REG && entry->d_type != DT_DIR &&
            entry->d_type != DT_LNK)
            continue;
        struct stat st;
        bool isLink = false;
        if (!screen.allowsAt(::dirfd(dir), name, st, isLink))
            continue;
        out.push_back(Member{name, folder + "/" + name, WebDAVFileInfo::of(st)});
    }
    ::closedir(dir);
    // The paths share the folder's part: their order is their names'.
    std::sort(out.begin(), out.end(),
              [](const Member& a, const Member& b) { return a.name < b.name; });
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
    Answer answer(x, req);
    std::vector<Member> list;
    if (depth == 1 && info.folder)
        list = members(x.target.path, x.target.isWriter());
    std::string xml;
    // A member's answer takes some 700 bytes when all properties are asked.
    xml.reserve(1024 + list.size() * 800);
    xml += WebDAVXml::HEAD;
    xml += "<D:multistatus xmlns:D=\"DAV:\">";
    appendResponse(xml, answer, x.target.path, baseName(x.target.path),
                   hrefOf(x.target, x.target.path, info.folder), info,
                   WebDAVPropertyStore::instance().list(x.target.path));
    if (!list.empty()) {
        const std::map<std::string, WebDAVPropertyStore::Properties> dead =
            WebDAVPropertyStore::instance().listMembers(x.target.path);
        const WebDAVPropertyStore::Properties none;
        // Every member's client path is the folder's and its name: the
        // folder's part is made once.
        const WebDAVTarget& t = x.target;
        const std::string& folder = t.path;
        const bool samePrefix =
            folder.size() + 1 >= t.shareRoot.size() && !t.clientPath(folder, true).empty();
        const std::string prefix =
            samePrefix ? WebDAVXml::escape(WebDAVXml::encodePath(
                             t.shareBase + (folder + "/").substr(t.shareRoot.size())))
                       : std::string();
        std::string href;
        for (const Member& member : list) {
            if (samePrefix) {
                href = prefix;
                href += WebDAVXml::escape(WebDAVXml::encodePath(member.name));
                if (member.info.folder)
                    href += '/';
            } else {
                href = hrefOf(t, member.path, member.info.folder);
            }
            const auto d = dead.find(member.path);
            appendResponse(xml, answer, member.path, member.name, href, member.info,
                           d == dead.end() ? none : d->second);
        }
    }
    xml += "</D:multistatus>";
    x.xml(207, xml);
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
