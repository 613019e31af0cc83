#include "webdav/WebDAVTarget.h"

#include "orvane/Defs.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {

const char* const SHARE_PREFIX = "/share/";

std::string trimSlashes(const std::string& text) {
    std::string::size_type first = text.find_first_not_of('/');
    if (first == std::string::npos)
        return std::string();
    std::string::size_type last = text.find_last_not_of('/');
    return text.substr(first, last - first + 1);
}

// The folder the plug-in's path lies in once the path below the share's own
// address is taken off its end.
std::string rootOf(const std::string& path, const std::string& inside) {
    const std::string tail = Util::convertPathToNative("/" + inside);
    if (tail == "/")
        return path;
    if (path.size() > tail.size() &&
        path.compare(path.size() - tail.size(), tail.size(), tail) == 0)
        return Util::convertPathToNative(path.substr(0, path.size() - tail.size()));
    return std::string();
}

}  // namespace

WebDAVTarget WebDAVTarget::fromReply(const Data::Message& reply) {
    WebDAVTarget t;
    const Data::VariantRow* resp = reply.findSection(HTTP::MS_HTTP_RESP);
    if (!resp)
        return t;
    t.allow = resp->getString(HTTP::S_HTTP_RESP_ALLOW) == "1";
    t.write = resp->getString(HTTP::S_HTTP_RESP_ALLOW_WRITE) == "1";
    t.path = resp->getString(HTTP::S_HTTP_RESP_DIRNAME);
    t.base = resp->getString("BASE");
    t.destination = resp->getString(HTTP::S_HTTP_REQ_DESTINATION);
    t.shareName = resp->getString(HTTP::S_HTTP_REQ_SHARENAME);
    t.sizeLimit = Data::VariantField(resp->getString("SIZE_LIMIT")).getInt64();
    t.sizeLimitExceeded = resp->getString("SIZE_LIMIT_EXCEEDED") == "1";
    const std::string::size_type share = t.base.find(SHARE_PREFIX);
    if (!t.allow || t.path.empty() || share == std::string::npos)
        return t;
    t.shareBase = t.base.substr(0, share + std::string(SHARE_PREFIX).size()) + t.shareName;
    if (t.base.compare(0, t.shareBase.size(), t.shareBase) != 0) {
        t.allow = false;
        return t;
    }
    t.shareRoot = rootOf(t.path, trimSlashes(t.base.substr(t.shareBase.size())));
    if (t.shareRoot.empty())
        t.allow = false;
    return t;
}

std::string WebDAVTarget::clientPath(const std::string& native, bool folder) const {
    if (!Util::isPathWithin(native, shareRoot))
        return std::string();
    std::string inside = native.substr(shareRoot.size());
    std::string out = shareBase + (inside.empty() ? "/" : inside);
    if (folder && out.back() != '/')
        out += "/";
    return out;
}

std::string WebDAVTarget::nativePath(const std::string& client) const {
    if (client.compare(0, shareBase.size(), shareBase) != 0)
        return std::string();
    const std::string rest = client.substr(shareBase.size());
    if (!rest.empty() && rest[0] != '/')
        return std::string();
    if (rest.find("..") != std::string::npos)
        return std::string();
    return Util::convertPathToNative(shareRoot + "/" + rest);
}

}  // namespace Host
}  // namespace Orvane
