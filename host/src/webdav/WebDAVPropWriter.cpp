#include "webdav/WebDAVPropWriter.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPResponse.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "orvane/HTTPUtil.h"
#include "orvane/storage/ShareSpace.h"
#include "webdav/WebDAVDates.h"
#include "webdav/WebDAVLocking.h"
#include "webdav/WebDAVXml.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

// The live properties by kind, so that a folder's answer names each
// property once per request, not once per member.
enum class WebDAVPropWriter::Live {
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

namespace {

const char* const ALL_LIVE[] = {"resourcetype",    "getcontentlength", "getcontenttype",
                                "getlastmodified", "creationdate",     "getetag",
                                "displayname",     "supportedlock",    "lockdiscovery"};
const char* const QUOTA[] = {"quota-used-bytes", "quota-available-bytes"};

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

// Bytes of the regular, non-hidden files below `folder`, counting each
// folder once even when links lead back into the tree.
std::int64_t walkedBytes(const std::string& folder) {
    std::set<std::pair<dev_t, ino_t>> seen;
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        seen.insert({st.st_dev, st.st_ino});
    return sizeBelow(folder, seen);
}

}  // namespace

WebDAVPropWriter::WebDAVPropWriter(const WebDAVTarget& target,
                                   const WebDAVBodies::Propfind& request)
    : m_target(target), m_mode(request.mode) {
    std::vector<PropName> all = request.names;
    if (m_mode != WebDAVBodies::Propfind::NAMED) {
        for (const char* n : ALL_LIVE)
            all.push_back(PropName{WebDAVXml::DAV, n});
    }
    for (const PropName& prop : all) {
        if (m_seen.insert(prop).second)
            m_names.push_back({prop, kindOf(prop)});
    }
    // Every lock that can cover the target or one of its members: on the
    // target or above it, or below it. In the table's order.
    std::map<std::string, WebDAVLock> near;
    for (const WebDAVLock& lock : WebDAVLocks::instance().covering(target.path))
        near[lock.token] = lock;
    for (const WebDAVLock& lock : WebDAVLocks::instance().within(target.path))
        near[lock.token] = lock;
    for (const auto& lock : near)
        m_locks.push_back(lock.second);
}

void WebDAVPropWriter::appendPropstat(std::string& out, const std::string& props, int code) {
    out += "<D:propstat><D:prop>";
    out += props;
    out += "</D:prop><D:status>HTTP/1.1 ";
    out += std::to_string(code);
    out += ' ';
    out += HTTPResponse::getReasonForStatus(static_cast<HTTPResponse::HTTPStatus>(code));
    out += "</D:status></D:propstat>";
}

bool WebDAVPropWriter::isLive(const PropName& prop) {
    return kindOf(prop) != Live::None;
}

WebDAVPropWriter::Live WebDAVPropWriter::kindOf(const PropName& prop) {
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

// What the share holds: the host's own accounting of the share, which each
// write keeps current, rather than a walk of the whole share for every
// PROPFIND; a walk only when that accounting cannot read the folder.
std::int64_t WebDAVPropWriter::usedBytes() {
    if (m_used < 0) {
        try {
            m_used = Storage::ShareSpace::instance().used(m_target.shareRoot);
        } catch (const Poco::Exception&) {
            m_used = walkedBytes(m_target.shareRoot);
        }
    }
    return m_used;
}

std::vector<WebDAVLock> WebDAVPropWriter::covering(const std::string& path) const {
    std::vector<WebDAVLock> out;
    for (const WebDAVLock& lock : m_locks) {
        if (lock.covers(path))
            out.push_back(lock);
    }
    return out;
}

bool WebDAVPropWriter::live(Live kind, const std::string& path, const std::string& name,
                            const WebDAVFileInfo& info) {
    std::string& value = m_value;
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
            WebDAVDates::appendHttp(value, info.mtimeNs / 1000000000LL);
            return true;
        case Live::CreationDate:
            WebDAVDates::appendIso(
                value, std::min<std::int64_t>(info.ctimeSeconds, info.mtimeNs / 1000000000LL));
            return true;
        case Live::ETag:
            value = WebDAVXml::escape(info.etag());
            return true;
        case Live::DisplayName:
            value = WebDAVXml::escape(m_target.isShareRoot(path) ? m_target.shareName : name);
            return true;
        case Live::SupportedLock: {
            // The same for every resource: made once, copied into room
            // that every member reuses.
            static const std::string supported = WebDAVLocking::supportedLock();
            value = supported;
            return true;
        }
        case Live::LockDiscovery:
            if (!m_locks.empty())
                value = WebDAVLocking::lockDiscovery(covering(path));
            return true;
        case Live::QuotaUsed:
        case Live::QuotaAvailable: {
            if (m_target.sizeLimit <= 0)
                return false;
            const std::int64_t used = usedBytes();
            value = std::to_string(kind == Live::QuotaUsed
                                       ? used
                                       : std::max<std::int64_t>(0, m_target.sizeLimit - used));
            return true;
        }
    }
    return false;
}

// A dead property stands beside a live one of the same name only where the
// live one has nothing to say for this resource.
void WebDAVPropWriter::one(const PropName& prop, Live kind, const std::string& path,
                           const std::string& name, const WebDAVFileInfo& info,
                           const WebDAVPropertyStore::Properties& dead) {
    const auto d = dead.empty() ? dead.end() : dead.find(prop);
    const bool has = live(kind, path, name, info) || d != dead.end();
    if (has && d != dead.end() && kind == Live::None)
        m_value = d->second;
    if (!has)
        WebDAVXml::appendElement(m_missing, prop, std::string());
    else if (m_mode == WebDAVBodies::Propfind::PROPNAME)
        WebDAVXml::appendElement(m_found, prop, std::string());
    else
        WebDAVXml::appendElement(m_found, prop, m_value);
}

void WebDAVPropWriter::append(std::string& out, const std::string& path, const std::string& name,
                              const std::string& href, const WebDAVFileInfo& info,
                              const WebDAVPropertyStore::Properties& dead) {
    m_found.clear();
    m_missing.clear();
    for (const auto& prop : m_names)
        one(prop.first, prop.second, path, name, info, dead);
    if (m_mode != WebDAVBodies::Propfind::NAMED) {
        for (const auto& d : dead) {
            if (!m_seen.count(d.first))
                one(d.first, kindOf(d.first), path, name, info, dead);
        }
    }
    out += "<D:response><D:href>";
    out += href;
    out += "</D:href>";
    if (!m_found.empty())
        appendPropstat(out, m_found, 200);
    if (!m_missing.empty() && m_mode == WebDAVBodies::Propfind::NAMED)
        appendPropstat(out, m_missing, 404);
    out += "</D:response>";
}

}  // namespace Host
}  // namespace Orvane
