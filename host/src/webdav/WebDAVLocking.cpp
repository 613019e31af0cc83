#include "webdav/WebDAVLocking.h"

#include <Poco/UUIDGenerator.h>
#include <fcntl.h>
#include <unistd.h>

#include "orvane/Util.h"
#include "webdav/WebDAVBodies.h"
#include "webdav/WebDAVXml.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

std::string href(const std::string& text) {
    return "<D:href>" + WebDAVXml::escape(text) + "</D:href>";
}

bool parentExists(const std::string& path) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    return WebDAVFileInfo::of(folder).folder;
}

}  // namespace

std::string WebDAVLocking::activeLock(const WebDAVLock& lock) {
    std::string xml = "<D:activelock><D:locktype><D:write/></D:locktype><D:lockscope>";
    xml += lock.exclusive ? "<D:exclusive/>" : "<D:shared/>";
    xml += "</D:lockscope><D:depth>";
    xml += lock.infinite ? "infinity" : "0";
    xml += "</D:depth>";
    if (!lock.owner.empty())
        xml += "<D:owner>" + lock.owner + "</D:owner>";
    xml += "<D:timeout>Second-" + std::to_string(lock.secondsLeft()) + "</D:timeout>";
    xml += "<D:locktoken>" + href(lock.token) + "</D:locktoken>";
    xml += "<D:lockroot>" + href(WebDAVXml::encodePath(lock.root)) + "</D:lockroot></D:activelock>";
    return xml;
}

std::string WebDAVLocking::lockDiscovery(const std::vector<WebDAVLock>& locks) {
    std::string xml;
    for (const WebDAVLock& lock : locks)
        xml += activeLock(lock);
    return xml;
}

std::string WebDAVLocking::supportedLock() {
    return "<D:lockentry><D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/>"
           "</D:locktype></D:lockentry><D:lockentry><D:lockscope><D:shared/></D:lockscope>"
           "<D:locktype><D:write/></D:locktype></D:lockentry>";
}

namespace {

// The body of a LOCK answer: the lock as lockdiscovery shows it.
std::string discovered(const WebDAVLock& lock) {
    return std::string(WebDAVXml::HEAD) + "<D:prop xmlns:D=\"DAV:\"><D:lockdiscovery>" +
           WebDAVLocking::activeLock(lock) + "</D:lockdiscovery></D:prop>";
}

void answer(WebDAVExchange& x, const WebDAVLock& lock, int code) {
    x.response.set("Lock-Token", "<" + lock.token + ">");
    x.xml(code, discovered(lock));
}

void refresh(WebDAVExchange& x) {
    const int seconds = WebDAVLocks::grantedSeconds(x.request.get("Timeout", ""));
    const std::vector<WebDAVLock> locks = WebDAVLocks::instance().covering(x.target.path);
    for (const std::string& token : x.submittedTokens()) {
        for (const WebDAVLock& held : locks) {
            WebDAVLock lock;
            if (held.token == token && WebDAVLocks::instance().refresh(token, seconds, lock)) {
                x.xml(HTTPResponse::HTTP_OK, discovered(lock));
                return;
            }
        }
    }
    x.error(HTTPResponse::HTTP_PRECONDITION_FAILED, "lock-token-matches-request-uri");
}

void lock(WebDAVExchange& x) {
    if (!x.mayWrite())
        return;
    if (!x.hasBody()) {
        refresh(x);
        return;
    }
    WebDAVLock lock;
    if (!x.parseBody([&] { return WebDAVBodies::lockInfo(x.body(), lock); }))
        return;
    const int depth = x.depth(-1);
    if (depth != 0 && depth != -1) {
        x.status(HTTPResponse::HTTP_BAD_REQUEST);
        return;
    }
    const std::string& path = x.target.path;
    WebDAVFileInfo info = WebDAVFileInfo::of(path);
    if (!info.exists && !parentExists(path)) {
        x.status(HTTPResponse::HTTP_CONFLICT);
        return;
    }
    if (!x.ifHolds())
        return;
    lock.token =
        "opaquelocktoken:" + Poco::UUIDGenerator::defaultGenerator().createRandom().toString();
    lock.path = path;
    lock.root = x.target.clientPath(path, info.folder);
    lock.infinite = depth == -1 && info.folder;
    lock.timeoutSeconds = WebDAVLocks::grantedSeconds(x.request.get("Timeout", ""));
    if (!WebDAVLocks::instance().acquire(lock)) {
        x.error(HTTPResponse::HTTP_LOCKED, "no-conflicting-lock");
        return;
    }
    int code = HTTPResponse::HTTP_OK;
    if (!info.exists) {
        // Locking an unmapped address makes an empty file there.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            WebDAVLocks::instance().release(lock.token);
            x.status(HTTPResponse::HTTP_CONFLICT);
            return;
        }
        ::close(fd);
        code = HTTPResponse::HTTP_CREATED;
    }
    answer(x, lock, code);
}

void unlock(WebDAVExchange& x) {
    std::string token = Util::trim(x.request.get("Lock-Token", ""));
    if (token.size() > 2 && token.front() == '<' && token.back() == '>')
        token = token.substr(1, token.size() - 2);
    for (const WebDAVLock& lock : WebDAVLocks::instance().covering(x.target.path)) {
        if (lock.token == token) {
            WebDAVLocks::instance().release(token);
            x.status(HTTPResponse::HTTP_NO_CONTENT);
            return;
        }
    }
    x.error(HTTPResponse::HTTP_CONFLICT, "lock-token-matches-request-uri");
}

}  // namespace

WebDAVMethods WebDAVLocking::methods() {
    return {{"LOCK", lock}, {"UNLOCK", unlock}};
}

}  // namespace Host
}  // namespace Orvane
