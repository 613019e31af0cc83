// The <D:response> of each resource one PROPFIND lists: the live
// properties computed from the file's facts and the lock table, the dead
// ones the caller read from WebDAVPropertyStore, and the quota properties
// of a share with a size limit. What every resource of the request answers
// alike (the names asked for, the locks near the target, the share's used
// bytes) is found once, not once per member. One instance per request, used
// by the request's thread.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "webdav/WebDAVBodies.h"
#include "webdav/WebDAVExchange.h"
#include "webdav/store/WebDAVPropertyStore.h"

namespace Orvane {
namespace Host {

class WebDAVPropWriter {
public:
    // Reads the lock table. `target` must outlive the writer.
    WebDAVPropWriter(const WebDAVTarget& target, const WebDAVBodies::Propfind& request);

    // Appends the resource's <D:response> to `out`. `name` is the last part
    // of `path`, `href` its client path, encoded and escaped.
    void append(std::string& out, const std::string& path, const std::string& name,
                const std::string& href, const WebDAVFileInfo& info,
                const WebDAVPropertyStore::Properties& dead);

    // A <D:propstat> of the property elements `props` with `code`'s status.
    static void appendPropstat(std::string& out, const std::string& props, int code);
    // A property the server computes, which no client may set.
    static bool isLive(const PropName& prop);

private:
    enum class Live;

    static Live kindOf(const PropName& prop);
    // Leaves the property's content in m_value; false when this resource
    // has none.
    bool live(Live kind, const std::string& path, const std::string& name,
              const WebDAVFileInfo& info);
    void one(const PropName& prop, Live kind, const std::string& path, const std::string& name,
             const WebDAVFileInfo& info, const WebDAVPropertyStore::Properties& dead);
    std::int64_t usedBytes();
    std::vector<WebDAVLock> covering(const std::string& path) const;

    const WebDAVTarget& m_target;
    const WebDAVBodies::Propfind::Mode m_mode;
    std::vector<std::pair<PropName, Live>> m_names;
    std::set<PropName> m_seen;
    std::vector<WebDAVLock> m_locks;
    std::int64_t m_used = -1;
    // Reused by every response: their room is allocated once.
    std::string m_found, m_missing, m_value;
};

}  // namespace Host
}  // namespace Orvane
